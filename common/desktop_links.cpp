#include "common/desktop_links.h"

#include <QDebug>
#include <QUrl>

QStringList helpSchemes()
{
    return { QStringLiteral("http"), QStringLiteral("https") };
}

QStringList supportSchemes()
{
    return { QStringLiteral("mailto"), QStringLiteral("http"), QStringLiteral("https") };
}

bool mayOpen(const QUrl &address, const QStringList &schemes, const char *use, const QString &value)
{
    if (value.isEmpty())
        return false;
    // QUrl keeps schemes in lower case; a value without one (a path, "--help") has none.
    if (address.isValid() && schemes.contains(address.scheme()))
        return true;
    qWarning().noquote() << QStringLiteral("tarnwick: %1 does not open \"%2\": only %3 addresses")
                                .arg(QLatin1String(use), value, schemes.join(QLatin1Char('/')));
    return false;
}
