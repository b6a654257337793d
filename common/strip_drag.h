#pragma once

#include <QPoint>
#include <QRect>

class QMouseEvent;
class QWidget;

/**
 * Dragging a frameless window by its top strip, as the main window and every
 * dialog do. A left press inside the strip starts a drag, moves follow the
 * cursor while the left button is held, and the release ends it. @p dragging is
 * the window kind's shared flag, which stays true only between such a press and
 * the next release.
 */
class StripDrag
{
public:
    explicit StripDrag(bool &dragging)
        : m_dragging(dragging)
    {
    }
    void press(QWidget *window, QMouseEvent *event, const QRect &strip);
    void move(QWidget *window, QMouseEvent *event) const;
    void release() { m_dragging = false; }

private:
    bool &m_dragging;
    QPoint m_offset;
};
