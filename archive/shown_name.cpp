#include "archive/shown_name.h"

#include <QChar>

namespace Archive {
namespace {

/// The character that starts at @p bytes[at] and its length, or -1 when the
/// bytes there are not UTF-8 (overlong, surrogate, cut short, out of range).
int decodeUtf8(const QByteArray &bytes, int at, uint *character)
{
    const auto lead = uchar(bytes[at]);
    int length = lead < 0x80 ? 1
        : lead < 0xC2        ? 0
        : lead < 0xE0        ? 2
        : lead < 0xF0        ? 3
        : lead < 0xF5        ? 4
                             : 0;
    if (length == 0 || at + length > bytes.size())
        return -1;
    uint value = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        const auto next = uchar(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return -1;
        value = value << 6 | (next & 0x3F);
    }
    static const uint smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return -1;
    *character = value;
    return length;
}

QString escape(const char *prefix, uint value, int width)
{
    return QLatin1String(prefix)
        + QString::number(value, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

bool mustEscape(uint character)
{
    if (character < 0x20 || (character >= 0x7F && character <= 0x9F))
        return true;
    // Marks that reorder text or break lines make a name read as another one.
    const QChar::Category category = QChar::category(character);
    return category == QChar::Other_Format || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

} // namespace

QString shownName(const QByteArray &bytes)
{
    QString shown;
    shown.reserve(bytes.size());
    for (int at = 0; at < bytes.size();) {
        uint character = 0;
        const int length = decodeUtf8(bytes, at, &character);
        if (length < 0) {
            shown += escape("\\x", uchar(bytes[at]), 2);
            ++at;
            continue;
        }
        at += length;
        if (character == '\\')
            shown += QLatin1String("\\\\");
        else if (character == '\n')
            shown += QLatin1String("\\n");
        else if (character == '\t')
            shown += QLatin1String("\\t");
        else if (character == '\r')
            shown += QLatin1String("\\r");
        else if (character < 0x80 && mustEscape(character))
            shown += escape("\\x", character, 2);
        else if (mustEscape(character))
            shown += escape("\\u", character, 4);
        else
            shown += QString::fromUcs4(&character, 1);
    }
    return shown;
}

QByteArray checksumLineName(const QByteArray &name, bool &escaped)
{
    escaped = false;
    QByteArray line;
    line.reserve(name.size());
    for (const char c : name) {
        const char *escape = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        escaped = escaped || escape;
        if (escape)
            line += escape;
        else
            line += c;
    }
    return line;
}

} // namespace Archive
