#include "scanner/core/tape_labels.h"

#include "scanner/core/body_stream.h"

#include <QDate>
#include <QStringList>

#include <cstring>

namespace Quorlin {
namespace {

/// EBCDIC (code page 037) to ASCII for the characters text and labels use; 0 for
/// the others.
const unsigned char *ebcdicTable()
{
    static unsigned char table[256] = {};
    static bool made = false;
    if (!made) {
        const auto run = [](int from, const char *chars) {
            for (int i = 0; chars[i]; ++i)
                table[from + i] = static_cast<unsigned char>(chars[i]);
        };
        run(0x40, " ");
        run(0x4b, ".<(+|&");
        run(0x5a, "!$*);");
        run(0x60, "-/");
        run(0x6b, ",%_>?");
        run(0x79, "`:#@'=\"");
        run(0x81, "abcdefghi");
        run(0x91, "jklmnopqr");
        run(0xa1, "~stuvwxyz");
        run(0xb0, "^");
        run(0xba, "[]");
        run(0xc0, "{ABCDEFGHI");
        run(0xd0, "}JKLMNOPQR");
        run(0xe0, "\\");
        run(0xe2, "STUVWXYZ");
        run(0xf0, "0123456789");
        made = true;
    }
    return table;
}

bool printableAscii(const unsigned char *data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (data[i] < 0x20 || data[i] > 0x7e)
            return false;
    return true;
}

/// The record as ASCII, when it is a label record in either code; empty otherwise.
QByteArray asciiLabel(const unsigned char *data, std::size_t available, bool *ebcdic)
{
    if (available < std::size_t(labelLength))
        return {};
    QByteArray text(reinterpret_cast<const char *>(data), int(labelLength));
    *ebcdic = !printableAscii(data, labelLength);
    if (*ebcdic) {
        const unsigned char *table = ebcdicTable();
        for (int i = 0; i < text.size(); ++i) {
            const unsigned char c = table[data[i]];
            if (c == 0)
                return {};
            text[i] = char(c);
        }
    }
    static const char *const kinds[] = { "VOL", "HDR", "EOF", "EOV", "UHL", "UTL", "UVL" };
    const bool known = std::any_of(std::begin(kinds), std::end(kinds),
        [&](const char *kind) { return text.startsWith(kind); });
    return known && text[3] >= '1' && text[3] <= '9' ? text : QByteArray();
}

QString field(const QByteArray &label, int from, int length)
{
    return QString::fromLatin1(label.mid(from, length)).trimmed();
}

/// "cyyddd": c is a blank for the 1900s, 0 for the 2000s, 1 for the 2100s.
QString labelDate(const QByteArray &label, int at)
{
    const QByteArray text = label.mid(at, 6);
    bool ok = false;
    const int year = text.mid(1, 2).toInt(&ok);
    const int day = ok ? text.mid(3, 3).toInt(&ok) : 0;
    if (!ok || day < 1 || day > 366)
        return QStringLiteral("none");
    if (text[0] != ' ' && (text[0] < '0' || text[0] > '9'))
        return QStringLiteral("none");
    const int century = text[0] == ' ' ? 1900 : 2000 + 100 * (text[0] - '0');
    return QDate(century + year, 1, 1).addDays(day - 1).toString(Qt::ISODate);
}

} // namespace

bool isLabelGroupStart(const unsigned char *data, std::size_t available)
{
    bool ebcdic = false;
    const QByteArray label = asciiLabel(data, available, &ebcdic);
    return label.startsWith("VOL1") || label.startsWith("HDR1") || label.startsWith("EOF1")
        || label.startsWith("EOV1");
}

LabelGroup readLabelGroup(BodyStream &stream, qint64 at, qint64 end)
{
    LabelGroup group;
    QStringList facts;
    QByteArray record(int(labelLength), '\0');
    for (qint64 pos = at; pos + labelLength <= end; pos += labelLength) {
        if (stream.readAt(pos, record.data(), labelLength) != labelLength)
            break;
        bool ebcdic = false;
        const QByteArray label = asciiLabel(
            reinterpret_cast<const unsigned char *>(record.constData()), labelLength, &ebcdic);
        if (label.isEmpty())
            break;
        group.length += labelLength;
        group.ebcdic = ebcdic;
        const QByteArray kind = label.left(4);
        if (kind == "VOL1") {
            facts << QStringLiteral("volume %1").arg(field(label, 4, 6))
                  << QStringLiteral("owner \"%1\"").arg(field(label, 37, 14));
        } else if (kind == "HDR1" || kind == "EOF1" || kind == "EOV1") {
            group.header = kind == "HDR1";
            group.endOfVolume = kind == "EOV1";
            group.fileName = field(label, 4, 17);
            facts << QStringLiteral("%1 \"%2\", file %3, created %4")
                         .arg(kind == "HDR1"      ? QStringLiteral("file")
                                 : kind == "EOF1" ? QStringLiteral("end of file")
                                                  : QStringLiteral("end of volume in file"))
                         .arg(group.fileName)
                         .arg(field(label, 31, 4).toInt())
                         .arg(labelDate(label, 41));
            if (kind != "HDR1")
                facts << QStringLiteral("%1 block(s)").arg(field(label, 54, 6).toInt());
        } else if (kind == "HDR2" || kind == "EOF2" || kind == "EOV2") {
            group.recordFormat = label[4];
            group.blockLength = field(label, 5, 5).toInt();
            group.recordLength = field(label, 10, 5).toInt();
            facts << QStringLiteral("record format %1, block length %2, record length %3")
                         .arg(QLatin1Char(group.recordFormat))
                         .arg(group.blockLength)
                         .arg(group.recordLength);
        }
    }
    if (group.length > 0)
        facts << (group.ebcdic ? QStringLiteral("EBCDIC labels") : QStringLiteral("ASCII labels"));
    group.facts = facts.join(QStringLiteral(", "));
    return group;
}

QByteArray labelledText(const RawRegion &region, const QByteArray &data)
{
    if (!region.ebcdic)
        return {};
    const unsigned char *table = ebcdicTable();
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    QByteArray text;
    const auto line = [&](int from, int length) {
        QByteArray out(length, ' ');
        for (int i = 0; i < length; ++i) {
            const unsigned char c = table[bytes[from + i]];
            if (c == 0)
                return false;
            out[i] = char(c);
        }
        while (out.endsWith(' '))
            out.chop(1);
        text += out + '\n';
        return true;
    };
    const auto word = [&](int at) { return bytes[at] << 8 | bytes[at + 1]; };
    if (region.recordFormat == 'F' && region.recordLength > 0) {
        if (data.size() % region.recordLength != 0)
            return {};
        for (int at = 0; at < data.size(); at += region.recordLength)
            if (!line(at, region.recordLength))
                return {};
    } else if (region.recordFormat == 'V') {
        // Each block opens with its length (BDW), each record with its own (RDW).
        for (int block = 0; block < data.size();) {
            if (block + 4 > data.size())
                return {};
            const int blockEnd = block + word(block);
            if (word(block) < 4 || blockEnd > data.size())
                return {};
            for (int record = block + 4; record < blockEnd;) {
                const int length = record + 4 <= blockEnd ? word(record) : 0;
                if (length < 4 || record + length > blockEnd || !line(record + 4, length - 4))
                    return {};
                record += length;
            }
            block = blockEnd;
        }
    } else {
        return {};
    }
    return text;
}

} // namespace Quorlin
