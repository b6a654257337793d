#include "common/fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QStringList>

namespace {

/// Those of @p candidates that are installed, in their order.
QStringList installedOf(const QStringList &candidates, const QStringList &installed)
{
    QStringList found;
    for (const QString &family : candidates) {
        if (installed.contains(family, Qt::CaseInsensitive))
            found << family;
    }
    return found;
}

} // namespace

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
    // Lato (installed by the set-up) is as wide as the wanted face and, unlike
    // Liberation Sans, has a semibold face: titles in Liberation Sans Bold run
    // into the logos beside them. Its "Lato Semibold" family holds that face
    // alone, so "Segoe UI Semibold" is semibold whatever weight a widget asks
    // for, as on the system the layout was made for. The wide DejaVu Sans,
    // last, clips some labels.
    const QStringList regular
        = { QStringLiteral("Selawik"), QStringLiteral("Lato"), QStringLiteral("Liberation Sans"),
              QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans") };
    const QStringList semibold
        = QStringList { QStringLiteral("Selawik Semibold"), QStringLiteral("Lato Semibold") }
        + regular;
    const QPair<QString, QStringList> wanted[] = {
        { QStringLiteral("Segoe UI"), regular },
        { QStringLiteral("Segoe UI Semibold"), semibold },
    };
    for (const auto &face : wanted) {
        const QStringList substitutes = installedOf(face.second, installed);
        if (!installed.contains(face.first, Qt::CaseInsensitive) && !substitutes.isEmpty())
            QFont::insertSubstitutions(face.first, substitutes);
    }
}
