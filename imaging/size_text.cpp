#include "imaging/size_text.h"

namespace SizeText {

namespace {

/// Number of times to divide by 1024 (1 to 4) for KB, MB, GB, TB.
int unitPower(qint64 bytes, Comparison comparison)
{
    if (comparison == Comparison::FloatingPoint) {
        const double size = static_cast<double>(bytes);
        if (size >= 1099511627776.0)
            return 4;
        if (size >= 1073741824.0)
            return 3;
        if (size >= 1048576.0)
            return 2;
        return 1;
    }
    if (bytes >= (Q_INT64_C(1) << 40))
        return 4;
    if (bytes >= (Q_INT64_C(1) << 30))
        return 3;
    if (bytes >= (Q_INT64_C(1) << 20))
        return 2;
    return 1;
}

QString units(qint64 bytes, Comparison comparison)
{
    static const char *const names[] = { "", " KB", " MB", " GB", " TB" };
    const int power = unitPower(bytes, comparison);
    double number = static_cast<double>(bytes);
    for (int i = 0; i < power; ++i)
        number *= 0.0009765625;
    return QString::number(number, 'f', 2) + QLatin1String(names[power]);
}

} // namespace

QString amount(qint64 bytes, Comparison comparison)
{
    return units(bytes, comparison) + QStringLiteral(" in disk");
}

QString windowUnits(qint64 bytes)
{
    return units(bytes, Comparison::Integer);
}

QString human(double bytes)
{
    static const char *const names[] = { "bytes", "KB", "MB", "GB", "TB" };
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    if (unit > 0)
        return QStringLiteral("%1 %2").arg(bytes, 0, 'f', 2).arg(QLatin1String(names[unit]));
    const qint64 whole = qint64(bytes);
    return whole == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(whole);
}

QString imageSize(qint64 bytes, Comparison comparison)
{
    return QStringLiteral("Image Size:  ") + amount(bytes, comparison);
}

} // namespace SizeText
