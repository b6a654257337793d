#include "dialogs/dialog_common.h"

#include "app/app_globals.h"

#include <QMouseEvent>
#include <QWidget>
#include <cmath>

QString scaleSetFolder()
{
    // Six significant digits, so a factor computed as 120/96 still counts as 1.25.
    const double s = std::round(static_cast<double>(scaleFactor) * 1e5) / 1e5;
    if (s >= 1.5)
        return QStringLiteral("150");
    if (s == 1.25)
        return QStringLiteral("125");
    if (s == 1.0)
        return QStringLiteral("100");
    return QString();
}

QString scaleSetImage(const QString &file)
{
    const QString folder = scaleSetFolder();
    if (folder.isEmpty())
        return QString();
    return QStringLiteral(":/images/%1/%2").arg(folder, file);
}

QRect scaledRect(const QRect &base)
{
    return QRect(scaled(base.x()), scaled(base.y()), scaled(base.width()), scaled(base.height()));
}

void placeScaled(QWidget *parent, const BaseRect *table, int count)
{
    for (int i = 0; i < count; ++i) {
        auto *widget = parent->findChild<QWidget *>(
            QLatin1String(table[i].objectName), Qt::FindDirectChildrenOnly);
        if (!widget)
            continue;
        const QRect rect = scaledRect(table[i].rect);
        widget->setGeometry(rect);
        widget->setFixedSize(rect.size());
        widget->move(rect.topLeft());
    }
}

void applyScaledLayout(QWidget *dialog, QSize baseSize, const BaseRect *table, int count)
{
    dialog->setFixedSize(scaled(baseSize.width()), scaled(baseSize.height()));
    placeScaled(dialog, table, count);
}

void placeScaledSquare(QWidget *widget, int baseX, int baseY, int baseSide)
{
    const QRect rect(scaled(baseX), scaled(baseY), scaled(baseSide), scaled(baseSide));
    widget->setGeometry(rect);
    widget->setFixedSize(rect.size());
    widget->move(rect.topLeft());
}

void centreIn(QWidget *window, const QRect &area)
{
    window->move(area.x() + (area.width() - window->width()) / 2,
        area.y() + (area.height() - window->height()) / 2);
}

QFont dialogFont(const QString &family, int points, int weight)
{
    QFont font(family, points);
    font.setWeight(weight);
    return font;
}

void startStripDrag(
    QWidget *dialog, QMouseEvent *event, const QRect &strip, bool &dragging, QPoint &dragOffset)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging = false;
    if (strip.contains(event->pos())) {
        dragging = true;
        dragOffset = event->globalPos() - dialog->frameGeometry().topLeft();
    }
}

void followStripDrag(QWidget *dialog, QMouseEvent *event, bool dragging, const QPoint &dragOffset)
{
    if (dragging && (event->buttons() & Qt::LeftButton)) {
        dialog->move(event->globalPos() - dragOffset);
        event->accept();
    }
}
