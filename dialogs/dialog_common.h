#pragma once
/**
 * @file
 * What the message dialogs and the About dialog share: the scale set of their
 * pictures, the scaled absolute layout from a table of base rectangles, the
 * fonts, and dragging by the top strip (StripDrag, shared with the window).
 */
#include "common/strip_drag.h"

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

/// A form widget's rectangle at 100 %, found by its object name.
struct BaseRect
{
    const char *objectName;
    QRect rect;
};

/// The picture set of the current scale: "100", "125", "150", or empty when none applies.
QString scaleSetName();

/// ":/images/<set>/<file>", or empty when no scale set applies.
QString scaleSetImage(const QString &file);

/// Truncated scaled rectangle of a base rectangle.
QRect scaledRect(const QRect &base);

/**
 * Gives every direct child of @p parent named in @p table its scaled
 * rectangle, in table order: geometry, fixed size, then position again.
 */
void placeScaled(QWidget *parent, const BaseRect *table, int count);

template <int N> void placeScaled(QWidget *parent, const BaseRect (&table)[N])
{
    placeScaled(parent, table, N);
}

/// Fixes @p dialog at the scaled @p baseSize, then places its children from @p table.
void applyScaledLayout(QWidget *dialog, QSize baseSize, const BaseRect *table, int count);

template <int N> void applyScaledLayout(QWidget *dialog, QSize baseSize, const BaseRect (&table)[N])
{
    applyScaledLayout(dialog, baseSize, table, N);
}

/// Places @p widget at the scaled square (x, y, side) the way the table layout does.
void placeScaledSquare(QWidget *widget, int baseX, int baseY, int baseSide);

/// Moves @p window so that it is centred in @p area (integer halves, cut toward zero).
void centreIn(QWidget *window, const QRect &area);

/// "Segoe UI" or "Segoe UI Semibold" at @p points and @p weight (QFont's 0..99 scale).
QFont dialogFont(const QString &family, int points, int weight);
