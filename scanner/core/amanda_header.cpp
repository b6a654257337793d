#include "scanner/core/amanda_header.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace Quorlin {
namespace {

constexpr char tag[] = "AMANDA: ";
constexpr std::size_t tagLength = sizeof tag - 1;

/// The words of the first line, or none when it is no plain text line.
QStringList firstLine(const unsigned char *data, std::size_t available)
{
    if (available < tagLength || std::memcmp(data, tag, tagLength) != 0)
        return {};
    std::size_t end = tagLength;
    while (end < available && data[end] != '\n') {
        if (data[end] < 0x20 || data[end] > 0x7e)
            return {};
        ++end;
    }
    if (end == available)
        return {};
    return QString::fromLatin1(reinterpret_cast<const char *>(data), int(end))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

/// Amanda's datestamps: YYYYMMDD, or YYYYMMDDhhmmss.
bool isDatestamp(const QString &word)
{
    if (word.size() != 8 && word.size() != 14)
        return false;
    for (const QChar c : word) {
        if (!c.isDigit())
            return false;
    }
    return true;
}

QString shownDate(const QString &stamp)
{
    QString text
        = stamp.left(4) + QLatin1Char('-') + stamp.mid(4, 2) + QLatin1Char('-') + stamp.mid(6, 2);
    if (stamp.size() == 14)
        text += QLatin1Char(' ') + stamp.mid(8, 2) + QLatin1Char(':') + stamp.mid(10, 2)
            + QLatin1Char(':') + stamp.mid(12, 2);
    return text;
}

bool isDumpKind(const QString &kind)
{
    return kind == QLatin1String("FILE") || kind == QLatin1String("SPLIT_FILE")
        || kind == QLatin1String("CONT_FILE");
}

/// The value after @p key among the words from the fifth on, or an empty string.
QString valueOf(const QStringList &words, const char *key)
{
    const int at = words.indexOf(QLatin1String(key), 5);
    return at > 0 && at + 1 < words.size() ? words.at(at + 1) : QString();
}

} // namespace

bool isAmandaHeader(const unsigned char *data, std::size_t available)
{
    const QStringList words = firstLine(data, available);
    if (words.size() < 3
        || !isDatestamp(
            words.at(2) == QLatin1String("DATE") && words.size() > 3 ? words.at(3) : words.at(2)))
        return false;
    const QString &kind = words.at(1);
    if (isDumpKind(kind))
        return words.size() >= 7 && !valueOf(words, "lev").isEmpty();
    return kind == QLatin1String("TAPESTART") || kind == QLatin1String("TAPEEND");
}

QString amandaHeaderFacts(const unsigned char *data, std::size_t available)
{
    const QStringList words = firstLine(data, available);
    if (words.size() < 4)
        return {};
    const QString &kind = words.at(1);
    if (kind == QLatin1String("TAPESTART")) {
        const int label = words.indexOf(QLatin1String("TAPE"));
        return QStringLiteral("the start of tape %1, written %2")
            .arg(label > 0 && label + 1 < words.size() ? words.at(label + 1) : QStringLiteral("?"),
                shownDate(words.at(3)));
    }
    if (kind == QLatin1String("TAPEEND"))
        return QStringLiteral("the end of the tape, written %1").arg(shownDate(words.at(3)));
    QStringList facts { QStringLiteral("host %1").arg(words.at(3)),
        QStringLiteral("disk %1").arg(words.value(4)),
        QStringLiteral("level %1").arg(valueOf(words, "lev")),
        QStringLiteral("date %1").arg(shownDate(words.at(2))) };
    const QString compression = valueOf(words, "comp");
    facts.append(
        QStringLiteral("compression %1")
            .arg(compression == QLatin1String("N") ? QStringLiteral("none") : compression));
    facts.append(QStringLiteral("program %1").arg(valueOf(words, "program")));
    const QString part = valueOf(words, "part");
    if (!part.isEmpty())
        facts.append(QStringLiteral("part %1").arg(part));
    if (kind == QLatin1String("CONT_FILE"))
        facts.append(QStringLiteral("continued from an earlier tape file"));
    return facts.join(QStringLiteral(", "));
}

AmandaPart amandaPart(const unsigned char *data, std::size_t available)
{
    AmandaPart part;
    if (!isAmandaHeader(data, available))
        return part;
    const QStringList words = firstLine(data, available);
    if (!isDumpKind(words.at(1)))
        return part;
    part.valid = true;
    part.dump = QStringList { words.at(3), words.at(4), valueOf(words, "lev"), words.at(2) }.join(
        QLatin1Char(' '));
    // "N/M", or "N/UNKNOWN" while the dump was still being written.
    const QString number = valueOf(words, "part");
    bool known = false;
    part.number = number.section(QLatin1Char('/'), 0, 0).toInt(&known);
    if (!known || part.number < 1)
        part.number = 0;
    part.total = std::max(0, number.section(QLatin1Char('/'), 1, 1).toInt());
    return part;
}

} // namespace Quorlin
