#include "app/fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList installed = QFontDatabase().families();
    // Families close to the wanted face in width first, so texts sized for
    // it still fit their labels; DejaVu Sans comes with the set-up.
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
