#include "scanner/core/dump_volume.h"

#include "scanner/core/body_stream.h"

#include <QDateTime>

#include <cstring>

namespace Quorlin {
namespace {

constexpr qint64 recordSize = dumpRecordSize;
constexpr qint32 checksumTarget = 84446;
// Field offsets in a tape header record.
constexpr std::size_t labelAt = 676;
constexpr std::size_t levelAt = 692;
constexpr std::size_t fileSystemAt = 696;
constexpr std::size_t deviceAt = 760;
constexpr std::size_t hostAt = 824;
constexpr std::size_t textLength = 64;
using Header = DumpHeader;

} // namespace

DumpHeader::DumpHeader(const unsigned char *bytes, std::size_t available)
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
    m_swapped = false;
}

QString DumpHeader::text(std::size_t at, std::size_t length) const
{
    const auto *start = reinterpret_cast<const char *>(m_bytes + at);
    return QString::fromLatin1(start, int(qstrnlen(start, uint(length))));
}

int DumpHeader::addressEntries() const
{
    return int(std::min<qint64>(std::max(0, word(countAt)), qint64(addressCount)));
}

qint64 DumpHeader::followingRecords() const
{
    const qint32 kind = type();
    const int count = addressEntries();
    if (kind == Bits || kind == Cleared)
        return count;
    // A tape header that opens a later volume carries the records still owed to
    // the file the volume before broke off in.
    if (kind != Inode && kind != Addresses && kind != Tape)
        return 0;
    qint64 present = 0;
    for (int i = 0; i < count; ++i)
        present += addressPresent(i) ? 1 : 0;
    return present;
}

QString dumpLabel(const DumpHeader &header)
{
    const QDateTime date
        = QDateTime::fromSecsSinceEpoch(quint32(header.word(Header::dateAt)), Qt::UTC);
    QString label = QStringLiteral("level %1 dump of %2 (%3 on %4), %5, volume %6")
                        .arg(header.word(levelAt))
                        .arg(header.text(fileSystemAt, textLength),
                            header.text(deviceAt, textLength), header.text(hostAt, textLength),
                            date.toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")))
                        .arg(header.word(Header::volumeAt));
    const QString name = header.text(labelAt, 16);
    if (!name.isEmpty() && name != QLatin1String("none"))
        label += QStringLiteral(", label \"%1\"").arg(name);
    return label;
}

bool isDumpVolumeHeader(const unsigned char *header, std::size_t available)
{
    const Header parsed(header, available);
    return parsed.isValid() && parsed.type() == Header::Tape;
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
        if (!header.isValid() || (ended && header.type() != Header::End))
            break;
        if (at == begin) {
            region.label = dumpLabel(header);
            blockSize = recordSize * std::max(1, std::min(header.word(Header::ntrecAt), 1024));
        }
        ended = ended || header.type() == Header::End;
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
