#pragma once
#include <QByteArray>
#include <QString>

namespace Quorlin {

/// A name from a tape as it may be printed or shown: UTF-8 that reads as text
/// stays as it is; control characters, bytes that are not UTF-8 and
/// characters that move or break lines become escapes (\n, \t, \r, \xHH for a
/// byte, \uHHHH for a character), and a backslash is doubled, so no name can
/// forge a line of output or pass for another name's escape.
QString shownName(const QByteArray &bytes);
inline QString shownName(const QString &text)
{
    return shownName(text.toUtf8());
}

} // namespace Quorlin
