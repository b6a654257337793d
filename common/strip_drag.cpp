#include "common/strip_drag.h"

#include <QMouseEvent>
#include <QWidget>

void StripDrag::press(QWidget *window, QMouseEvent *event, const QRect &strip)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = strip.contains(event->pos());
    if (m_dragging)
        m_offset = event->globalPos() - window->frameGeometry().topLeft();
}

void StripDrag::move(QWidget *window, QMouseEvent *event) const
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        window->move(event->globalPos() - m_offset);
        event->accept();
    }
}
