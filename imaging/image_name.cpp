#include "imaging/image_name.h"

namespace ImageName {

QString timeStamp(const QDateTime &when, const QLocale &locale)
{
    QString stamp = locale.toString(when, QStringLiteral("ddd MMM dd yyyy hh-mm-ss"));
    stamp.replace(QLatin1Char(':'), QLatin1Char('-'), Qt::CaseSensitive);
    return stamp;
}

QString imagePath(const QString &folder, const QString &stamp)
{
    return folder + QStringLiteral("/Tape_Image_(") + stamp + QStringLiteral(").tape");
}

} // namespace ImageName
