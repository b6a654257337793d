#include "scanner/core/dump_volume.h"

#include "scanner/core/body_stream.h"

#include <QDateTime>

#include <cstring>

namespace Quorlin {
namespace {

constexpr qint64 recordSize = 1024;
constexpr qint32 oldMagic = 60011;
constexpr qint32 newMagic = 60012;
constexpr qint32 checksumTarget = 84446;
// Record types.
constexpr qint32 volumeHeader = 1;
constexpr qint32 inodeHeader = 2;
constexpr qint32 bitmap = 3;
constexpr qint32 addressHeader = 4;
constexpr qint32 endRecord = 5;
constexpr qint32 clearedBitmap = 6;
// Field offsets in a header record.
constexpr std::size_t typeAt = 0;
constexpr std::size_t dateAt = 4;
constexpr std::size_t volumeAt = 12;
constexpr std::size_t magicAt = 24;
constexpr std::size_t countAt = 160;
constexpr std::size_t addressesAt = 164;
constexpr std::size_t addressCount = 512;
constexpr std::size_t labelAt = 676;
constexpr std::size_t levelAt = 692;
constexpr std::size_t fileSystemAt = 696;
constexpr std::size_t deviceAt = 760;
constexpr std::size_t hostAt = 824;
constexpr std::size_t textLength = 64;
constexpr std::size_t ntrecAt = 896;

/// A header record read in the byte order its magic number tells.
class Header
{
public:
    Header(const unsigned char *bytes, std::size_t available)
        : m_bytes(bytes)
    {
        if (available < std::size_t(recordSize))
            return;
        for (bool swapped : { false, true }) {
            m_swapped = swapped;
            const qint32 magic = word(magicAt);
            if (magic != newMagic && magic != oldMagic)
                continue;
            quint32 sum = 0;
            for (std::size_t i = 0; i < std::size_t(recordSize); i += 4)
                sum += quint32(word(i));
            m_valid = sum == quint32(checksumTarget);
            return;
        }
    }

    bool isValid() const { return m_valid; }
    qint32 word(std::size_t at) const
    {
        quint32 value;
        std::memcpy(&value, m_bytes + at, 4);
        if (m_swapped)
            value = (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u)
                | (value << 24);
        return qint32(value);
    }
    QString text(std::size_t at, std::size_t length) const
    {
        const auto *start = reinterpret_cast<const char *>(m_bytes + at);
        return QString::fromLatin1(start, int(qstrnlen(start, uint(length))));
    }
    /// Data records that follow this header on the tape.
    qint64 followingRecords() const
    {
        const qint32 type = word(typeAt);
        const qint64 count = std::min<qint64>(std::max(0, word(countAt)), addressCount);
        if (type == bitmap || type == clearedBitmap)
            return count;
        if (type != inodeHeader && type != addressHeader)
            return 0;
        qint64 present = 0;
        for (qint64 i = 0; i < count; ++i)
            present += m_bytes[addressesAt + std::size_t(i)] != 0 ? 1 : 0;
        return present;
    }

private:
    const unsigned char *m_bytes;
    bool m_swapped = false;
    bool m_valid = false;
};

QString labelOf(const Header &header)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(quint32(header.word(dateAt)), Qt::UTC);
    QString label = QStringLiteral("level %1 dump of %2 (%3 on %4), %5, volume %6")
                        .arg(header.word(levelAt))
                        .arg(header.text(fileSystemAt, textLength),
                            header.text(deviceAt, textLength), header.text(hostAt, textLength),
                            date.toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")))
                        .arg(header.word(volumeAt));
    const QString name = header.text(labelAt, 16);
    if (!name.isEmpty() && name != QLatin1String("none"))
        label += QStringLiteral(", label \"%1\"").arg(name);
    return label;
}

} // namespace

bool isDumpVolumeHeader(const unsigned char *header, std::size_t available)
{
    const Header parsed(header, available);
    return parsed.isValid() && parsed.word(typeAt) == volumeHeader;
}

RawRegion readDumpVolume(BodyStream &stream, qint64 begin, qint64 end)
{
    RawRegion region;
    region.offset = begin;
    region.kind = QStringLiteral("dump");
    unsigned char record[recordSize];
    qint64 at = begin;
    qint64 blockSize = recordSize;
    bool ended = false;
    while (at + recordSize <= end
        && stream.readAt(at, reinterpret_cast<char *>(record), recordSize) == recordSize) {
        const Header header(record, recordSize);
        // Several end records fill the volume's last tape block.
        if (!header.isValid() || (ended && header.word(typeAt) != endRecord))
            break;
        if (at == begin) {
            region.label = labelOf(header);
            blockSize = recordSize * std::max(1, std::min(header.word(ntrecAt), 1024));
        }
        ended = ended || header.word(typeAt) == endRecord;
        at += recordSize * (1 + header.followingRecords());
    }
    at = std::min(at, end);
    if (!ended)
        region.label += QStringLiteral("; its records break off %1 bytes in, before the end "
                                       "record")
                            .arg(at - begin);
    // The volume fills whole tape blocks of its own size.
    const qint64 blocks = (at - begin + blockSize - 1) / blockSize;
    region.length = std::min(end - begin, std::max<qint64>(1, blocks) * blockSize);
    return region;
}

} // namespace Quorlin
