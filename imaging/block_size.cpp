#include "imaging/block_size.h"

namespace BlockSize {

QString autoText()
{
    return QStringLiteral("Auto");
}

QStringList entries()
{
    return { autoText(), QStringLiteral("512"), QStringLiteral("2048"), QStringLiteral("4096"),
        QStringLiteral("8192"), QStringLiteral("16384"), QStringLiteral("32768"),
        QStringLiteral("65536"), QStringLiteral("131072"), QStringLiteral("262144"),
        QStringLiteral("524288") };
}

bool isFixedSize(const QString &text)
{
    static const char *const sizes[] = { "512", "1024", "2048", "4096", "8192", "16384", "32768",
        "65536", "131072", "262144", "524288" };
    for (const char *size : sizes) {
        if (text == QLatin1String(size))
            return true;
    }
    return false;
}

} // namespace BlockSize
