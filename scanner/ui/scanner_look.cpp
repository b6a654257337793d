#include "scanner/ui/scanner_look.h"

#include "common/fonts.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

namespace {
// The font is named here for every widget: with a style sheet on the window,
// the window's own font does not reach its children, which would draw in the
// application's default (fontconfig's sans-serif, Liberation Mono on a system
// with Liberation alone).
const char styleSheet[] = "QWidget { font-family: \"Segoe UI\"; font-size: 10pt; }"
                          "QMainWindow, QWidget#central { background: #ffffff; }"
                          "QLabel#heading { font-size: 16pt; color: #1f2a37; }"
                          "QLabel#factName { color: #5b6675; }"
                          "QLabel#summary { font-weight: bold; color: #166534; }"
                          "QLabel#summary[trouble=\"true\"] { color: #9a3412; }"
                          "QLabel#sectionTitle { color: #5b6675; }"
                          "QTreeWidget, QPlainTextEdit { border: 1px solid #d5dae1; }"
                          "QPushButton { padding: 4px 14px; }";
} // namespace

QColor troubleColor()
{
    return QColor(0x9a, 0x34, 0x12);
}

void applyScannerLook(QWidget *window)
{
    installFontSubstitutes(); // the main window's stand-ins, so both windows read alike
    window->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    window->setPalette(palette);
    window->setStyleSheet(QLatin1String(styleSheet));
}
