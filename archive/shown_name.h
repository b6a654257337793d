#pragma once
/**
 * @file
 * Names (of files, of archive members) as they may be printed or shown, for every program of
 * the project: a name with a newline or an escape sequence must not forge a line of output.
 */
#include <QByteArray>
#include <QString>

namespace Archive {

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

/**
 * @p name as a checksum line of `sha256sum` holds it: a name with a backslash, a newline
 * or a carriage return has them escaped (\\, \n, \r) and @p escaped set, for the line's
 * leading backslash; any other name is as it is.
 */
QByteArray checksumLineName(const QByteArray &name, bool &escaped);

} // namespace Archive
