#include "common/fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QStringList>

void installFontSubstitutes()
{
    static bool installedOnce = false;
    if (installedOnce)
        return;
    installedOnce = true;

    QStringList installed;
    for (QString family : QFontDatabase().families()) {
        // Families that several foundries provide are listed as "Name [foundry]".
        installed << family.remove(QRegularExpression(QStringLiteral(" \\[.*\\]$")));
    }
    // Families close to the wanted face in width first: the labels are sized
    // for it, and the wide DejaVu Sans clips some of them (the set-up installs
    // Liberation Sans for that reason).
    const QStringList candidates = { QStringLiteral("Segoe UI"), QStringLiteral("Selawik"),
        QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
        QStringLiteral("DejaVu Sans") };
    QStringList substitutes;
    for (const QString &family : candidates) {
        if (installed.contains(family, Qt::CaseInsensitive))
            substitutes << family;
    }
    for (const QString &wanted :
        { QStringLiteral("Segoe UI"), QStringLiteral("Segoe UI Semibold") }) {
        if (!installed.contains(wanted, Qt::CaseInsensitive) && !substitutes.isEmpty())
            QFont::insertSubstitutions(wanted, substitutes);
    }
}
