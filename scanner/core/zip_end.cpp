// The end of a zip archive: its central directory follows the entries that a
// streaming reader lists, and only its last record says where it stops.
#include "scanner/core/archive_reader.h"
#include "scanner/core/body_stream.h"

#include <cstring>

namespace Quorlin {
namespace {

constexpr qint64 lookSize = 64 << 10;

quint64 little(const unsigned char *data, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | data[i];
    return value;
}

/// Reads the records of a central directory one after the other.
class RecordWalk
{
public:
    RecordWalk(const ImageFacts &facts, qint64 end)
        : m_stream(facts)
        , m_end(end)
    {
        m_open = m_stream.open();
        m_buffer.resize(lookSize);
    }

    /// The @p length bytes at @p at, or null past the end.
    const unsigned char *at(qint64 at, qint64 length)
    {
        if (!m_open || at + length > m_end || length > lookSize)
            return nullptr;
        if (at < m_start || at + length > m_start + m_length) {
            m_start = at;
            m_length = m_stream.readAt(at, m_buffer.data(), std::min(lookSize, m_end - at));
            if (m_length < length)
                return nullptr;
        }
        return reinterpret_cast<const unsigned char *>(m_buffer.constData()) + (at - m_start);
    }

private:
    BodyStream m_stream;
    QByteArray m_buffer;
    qint64 m_end;
    qint64 m_start = 0;
    qint64 m_length = 0;
    bool m_open = false;
};

} // namespace

qint64 zipArchiveEnd(const ImageFacts &facts, qint64 centralDirectory, qint64 end)
{
    RecordWalk walk(facts, end);
    qint64 pos = centralDirectory;
    for (;;) {
        const unsigned char *record = walk.at(pos, 4);
        if (!record || record[0] != 'P' || record[1] != 'K')
            return -1;
        const unsigned kind = unsigned(record[2]) << 8 | record[3];
        qint64 fixed = 0;
        int lengthAt = 0;
        int lengthBytes = 0;
        switch (kind) {
        case 0x0102: // central directory entry: name, extra field, comment
            if (!(record = walk.at(pos, 46)))
                return -1;
            pos += 46
                + qint64(little(record + 28, 2) + little(record + 30, 2) + little(record + 32, 2));
            continue;
        case 0x0505: // digital signature
            fixed = 6, lengthAt = 4, lengthBytes = 2;
            break;
        case 0x0606: // zip64 end record
            fixed = 12, lengthAt = 4, lengthBytes = 8;
            break;
        case 0x0607: // zip64 locator
            fixed = 20;
            break;
        case 0x0506: // end of central directory, then its comment
            fixed = 22, lengthAt = 20, lengthBytes = 2;
            break;
        default:
            return -1;
        }
        if (!(record = walk.at(pos, fixed)))
            return -1;
        const qint64 variable = lengthBytes ? qint64(little(record + lengthAt, lengthBytes)) : 0;
        if (variable < 0 || variable > end - pos)
            return -1;
        pos += fixed + variable;
        if (kind == 0x0506)
            return std::min(pos, end);
    }
}

QHash<QByteArray, uint> zipUnixModes(const ImageFacts &facts, qint64 begin, qint64 end)
{
    // The end record lies in the last 64 KiB and 22 bytes, before its comment.
    constexpr qint64 endRecord = 22;
    const qint64 from = std::max(begin, end - lookSize);
    QByteArray tail(int(end - from), Qt::Uninitialized);
    BodyStream stream(facts);
    if (end - from < endRecord || !stream.open()
        || stream.readAt(from, tail.data(), tail.size()) != tail.size())
        return {};
    const int at = tail.lastIndexOf(QByteArray("PK\x05\x06", 4), tail.size() - int(endRecord));
    if (at < 0)
        return {};
    const auto *record = reinterpret_cast<const unsigned char *>(tail.constData()) + at;
    const qint64 directory = from + at - qint64(little(record + 12, 4));
    if (directory < begin)
        return {};
    QHash<QByteArray, uint> modes;
    RecordWalk walk(facts, from + at);
    for (qint64 pos = directory; (record = walk.at(pos, 46)) && little(record, 4) == 0x02014b50;) {
        const int nameLength = int(little(record + 28, 2));
        const bool madeOnUnix = record[5] == 3; // made on Unix: the mode is in the high half
        const uint mode = uint(little(record + 38, 4) >> 16);
        const qint64 next = pos + 46 + nameLength + qint64(little(record + 30, 2))
            + qint64(little(record + 32, 2));
        const unsigned char *name = walk.at(pos + 46, nameLength);
        if (!name)
            break;
        if (madeOnUnix && mode != 0)
            modes.insert(QByteArray(reinterpret_cast<const char *>(name), nameLength), mode);
        pos = next;
    }
    return modes;
}

} // namespace Quorlin
