#include "dialogs/dialog_common.h"

#include "common/app_globals.h"
#include "common/scale_set.h"

#include <QWidget>

QString scaleSetName()
{
    const int set = scaleSetFor(scaleFactor);
    return set == 0 ? QString() : QString::number(set);
}

QString scaleSetImage(const QString &file)
{
    const QString folder = scaleSetName();
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
