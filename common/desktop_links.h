#pragma once
/**
 * @file
 * What the window hands the desktop to open from the installed settings: the
 * help address and the support link. A value of another kind (a local file, a
 * program, a network share, an option for the opener) is refused: it is
 * logged on stderr and nothing opens, as for an empty value.
 */
#include <QStringList>

class QUrl;

/// The schemes Help opens.
QStringList helpSchemes();
/// The schemes the About dialog's support link opens.
QStringList supportSchemes();

/**
 * True when @p address uses one of @p schemes. Otherwise logs on stderr that
 * @p use (such as "Help") refused the installed @p value, and returns false.
 * An empty value is refused without a word: there is nothing to open.
 */
bool mayOpen(
    const QUrl &address, const QStringList &schemes, const char *use, const QString &value);
