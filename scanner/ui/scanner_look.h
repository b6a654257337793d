#pragma once

class QColor;
class QWidget;

/// The clean white look of the main program, for the scanner's window:
/// "Segoe UI" (or the installed sans that stands in for it) on white.
void applyScannerLook(QWidget *window);

/// The colour of notes about damage.
QColor troubleColor();
