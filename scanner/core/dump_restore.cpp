#include "scanner/core/dump_restore.h"

#include "imaging/size_text.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/dump_volume.h"
#include "scanner/core/extractor.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/shown_name.h"

#include <QHash>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace Quorlin {
namespace {

constexpr qint64 recordSize = dumpRecordSize;
constexpr quint32 rootInode = 2;
/// How far past the last header found the next one is looked for, after damage
/// or where a volume ends and the next tape file may continue it.
constexpr qint64 searchReach = qint64(256) << 20;
/// A symbolic link's target longer than this is no target.
constexpr qint64 longestTarget = 4096;
/// Marks a block in Inode::blocks: a hole, or a record that is not on the tape.
constexpr qint64 hole = -1;
constexpr qint64 missing = -2;
const QString formatPrefix = QStringLiteral("dump: ");

struct Inode
{
    uint mode = 0; ///< type and permission bits
    qint64 size = 0;
    EntryMetadata metadata;
    quint64 device = 0;
    /// The address lists of its headers: where the list's header lies (a record
    /// number of the dump) and which of its blocks have a record.
    struct Chunk
    {
        qint64 header;
        QByteArray present;
    };
    QVector<Chunk> chunks;
    bool cut = false; ///< a header of it was lost: its data ends at the last one found
    /// Per block of 1 KiB: the stream offset of its record, hole or missing.
    QVector<qint64> blocks;
    qint64 damagedAt = -1; ///< stream offset of the first of its records that is unreadable
    qint64 damagedByte = -1; ///< the byte of the file that record holds
    qint64 blockCount() const { return (size + recordSize - 1) / recordSize; }
    bool isDamaged() const { return cut || damagedAt >= 0 || damagedByte >= 0; }
};

/// One volume of the dump: where it starts in the stream and which of the
/// dump's records (by their number) it holds.
struct Volume
{
    qint64 start;
    qint64 firstRecord;
    qint64 records = -1; ///< -1: up to where its tape file ends
    qint64 limit; ///< the stream offset no record of it reaches past
};

/// The dump read header by header: its inodes, where their data lies, and the
/// names its folders give them.
class DumpIndex
{
public:
    DumpIndex(const ImageFacts &facts, BodyStream &stream)
        : m_facts(facts)
        , m_stream(stream)
        , m_streamLength(stream.length())
    {
    }

    bool read(qint64 begin);
    /// Lists the files, in entries that entryInode() maps to their inodes.
    FoundArchive archive();
    quint32 entryInode(int entry) const { return m_entryInodes.value(entry); }
    const Inode *inode(quint32 number) const
    {
        const auto it = m_inodes.constFind(number);
        return it == m_inodes.cend() ? nullptr : &it.value();
    }
    bool readRecord(qint64 at, unsigned char *out) const
    {
        return at >= 0
            && m_stream.readAt(at, reinterpret_cast<char *>(out), recordSize) == recordSize;
    }
    /// The data of @p inode, at most @p most bytes (links, folders).
    QByteArray smallData(const Inode &inode, qint64 most) const;

private:
    bool unreadable(qint64 at) const
    {
        return m_facts.layout && !m_facts.layout->unreadableIn(at, at + recordSize).isEmpty();
    }
    /// Where record @p number of the dump lies, or -1 when on no volume found.
    qint64 physical(qint64 number) const;
    /// The record after @p number that holds data: a later volume's tape header is none.
    qint64 nextData(qint64 number) const;
    bool acceptable(const DumpHeader &header) const
    {
        return header.isValid() && header.word(DumpHeader::dateAt) == m_date
            && header.isSwapped() == m_swapped
            && (header.type() != DumpHeader::Tape || identity(header) == m_identity);
    }
    /// What every volume's tape header of one dump repeats: label, level, file system,
    /// device and host.
    static QByteArray identity(const DumpHeader &header) { return header.raw(676, 888 - 676); }
    /// Why the tape header of another volume at @p at, met where this dump's next
    /// volume was looked for, is not that volume; empty when it is no tape header.
    QString notNextVolume(const DumpHeader &header, qint64 at) const;
    /// Looks from @p from on for the next header of this dump: one whose number is
    /// its place, or the tape header of the next volume. Its stream offset, or -1.
    qint64 search(qint64 from, unsigned char *record);
    void take(const DumpHeader &header, qint64 number, qint64 at);
    /// The file being read loses the address lists it still lacks.
    void markCut()
    {
        if (m_current != 0) {
            Inode &inode = m_inodes[m_current];
            inode.cut = inode.cut || m_currentBlocks < inode.blockCount();
        }
    }
    void resolve();
    void name(quint32 folder, const QByteArray &path, int depth);
    void addEntry(const QByteArray &path, quint32 number);

    const ImageFacts &m_facts;
    BodyStream &m_stream;
    const qint64 m_streamLength;
    qint32 m_date = 0;
    qint32 m_volume = 0;
    QByteArray m_identity;
    QString m_nextVolume; ///< why the volume that follows on the tape is not the next one
    bool m_swapped = false;
    bool m_oldFormat = false;
    qint64 m_blockSize = recordSize;
    QVector<Volume> m_volumes;
    QHash<quint32, Inode> m_inodes;
    QByteArray m_dumped; ///< the map of inodes this dump holds; empty when not read
    quint32 m_current = 0; ///< the inode whose address lists are being read
    qint64 m_currentBlocks = 0; ///< blocks its address lists gave so far
    bool m_ended = false;
    qint64 m_end = 0;
    QStringList m_damage; ///< what went wrong, in plain words
    qint64 m_firstDamage = -1;
    // The listing.
    QVector<FoundEntry> m_entries;
    QVector<quint32> m_entryInodes;
    QHash<quint32, int> m_firstName; ///< entry that holds an inode's data
    QSet<quint32> m_named;
    QString m_label;
};

qint64 DumpIndex::physical(qint64 number) const
{
    for (int v = m_volumes.size() - 1; v >= 0; --v) {
        const Volume &volume = m_volumes.at(v);
        if (number < volume.firstRecord)
            continue;
        if (volume.records >= 0 && number >= volume.firstRecord + volume.records)
            return -1;
        const qint64 at = volume.start + (number - volume.firstRecord) * recordSize;
        return at + recordSize <= volume.limit ? at : -1;
    }
    return -1;
}

qint64 DumpIndex::nextData(qint64 number) const
{
    ++number;
    for (int v = 1; v < m_volumes.size(); ++v) {
        if (m_volumes.at(v).firstRecord == number)
            ++number;
    }
    return number;
}

qint64 DumpIndex::search(qint64 from, unsigned char *record)
{
    qint64 reach = std::min(m_streamLength, from + searchReach);
    // The next volume, when in another image, starts the image given right after: one
    // further on is never taken, what lies between would be lost unsaid.
    if (const RecordLayout *layout = m_facts.layout.get())
        reach = std::min(reach, layout->volumeStart(layout->volumeAt(from) + 2));
    const Volume &volume = m_volumes.last();
    for (qint64 at = from; at + recordSize <= reach; at += recordSize) {
        if (unreadable(at) || !readRecord(at, record))
            continue;
        const DumpHeader header(record, recordSize);
        if (m_nextVolume.isEmpty() && at >= volume.limit)
            m_nextVolume = notNextVolume(header, at);
        if (!acceptable(header))
            continue;
        if (header.type() == DumpHeader::Tape && header.word(DumpHeader::volumeAt) == m_volume + 1)
            return at;
        const qint64 number = volume.firstRecord + (at - volume.start) / recordSize;
        if (at < volume.limit && header.type() != DumpHeader::Tape
            && header.word(DumpHeader::recordNumberAt) == number)
            return at;
    }
    return -1;
}

QString DumpIndex::notNextVolume(const DumpHeader &header, qint64 at) const
{
    if (!header.isValid() || header.type() != DumpHeader::Tape)
        return QString();
    const RecordLayout *layout = m_facts.layout.get();
    const QString where = layout && layout->volumeCount() > 1
        ? QStringLiteral("image %1 of the set given").arg(layout->volumeAt(at) + 1)
        : QStringLiteral("the tape file after it");
    if (header.word(DumpHeader::dateAt) != m_date || identity(header) != m_identity)
        return QStringLiteral("%1 holds a volume of another dump (%2), not its volume %3")
            .arg(where, dumpLabel(header))
            .arg(m_volume + 1);
    const qint32 volume = header.word(DumpHeader::volumeAt);
    if (volume == m_volume + 1)
        return QString();
    return QStringLiteral("%1 holds its volume %2 where volume %3 must follow (%4)")
        .arg(where)
        .arg(volume)
        .arg(m_volume + 1)
        .arg(volume > m_volume + 1
                ? QStringLiteral("volume %1 is missing or given out of order").arg(m_volume + 1)
                : QStringLiteral("the volumes are given out of order"));
}

bool DumpIndex::read(qint64 begin)
{
    unsigned char record[recordSize];
    if (!readRecord(begin, record))
        return false;
    const DumpHeader first(record, recordSize);
    if (!first.isValid() || first.type() != DumpHeader::Tape)
        return false;
    m_date = first.word(DumpHeader::dateAt);
    m_volume = first.word(DumpHeader::volumeAt);
    m_identity = identity(first);
    if (m_volume > 1)
        m_damage.append(QStringLiteral("it begins with volume %1: the volumes before it are not "
                                       "read before it (missing, or given after it), so files "
                                       "it goes on with are lost")
                            .arg(m_volume));
    m_swapped = first.isSwapped();
    m_oldFormat = first.isOldFormat();
    m_label = dumpLabel(first);
    m_blockSize = recordSize * std::max(1, std::min(first.word(DumpHeader::ntrecAt), 1024));
    const qint64 tapeFileEnd = m_facts.layout ? m_facts.layout->tapeFileEnd(begin) : m_streamLength;
    m_volumes.append({ begin, first.word(DumpHeader::recordNumberAt), -1, tapeFileEnd });
    qint64 number = first.word(DumpHeader::recordNumberAt);
    qint64 at = begin;
    qint64 following = first.followingRecords();
    while (!m_ended) {
        qint64 expected = number + 1 + following;
        qint64 next = physical(expected);
        bool found = false;
        if (next >= 0 && !unreadable(next) && readRecord(next, record)) {
            const DumpHeader header(record, recordSize);
            found = acceptable(header) && header.type() != DumpHeader::Tape
                && header.word(DumpHeader::recordNumberAt) == expected;
        }
        if (!found) {
            next = search(at + recordSize, record);
            if (next < 0) {
                m_end = std::max(
                    m_end, std::min(m_volumes.last().limit, at + recordSize * (1 + following)));
                break;
            }
            const DumpHeader header(record, recordSize);
            const bool newVolume = header.type() == DumpHeader::Tape;
            const qint64 foundNumber = header.word(DumpHeader::recordNumberAt);
            if (newVolume) {
                Volume &last = m_volumes.last();
                last.records = std::max<qint64>(0, foundNumber - last.firstRecord);
                m_volumes.append({ next, foundNumber, -1,
                    m_facts.layout ? m_facts.layout->tapeFileEnd(next) : m_streamLength });
                ++m_volume;
            }
            // Records between are lost, unless a new volume simply starts where the last ended.
            if (!newVolume || foundNumber > expected) {
                if (m_firstDamage < 0)
                    m_firstDamage = physical(expected) >= 0 ? physical(expected) : at + recordSize;
                m_damage.append(
                    QStringLiteral("records %1 to %2 of the dump are unreadable or missing")
                        .arg(expected)
                        .arg(foundNumber - 1));
                markCut();
                m_current = 0;
            }
        }
        const DumpHeader header(record, recordSize);
        number = header.word(DumpHeader::recordNumberAt);
        at = next;
        following = header.followingRecords();
        take(header, number, at);
    }
    if (!m_ended && !m_nextVolume.isEmpty())
        m_damage.append(QStringLiteral("the dump breaks off at the end of its volume %1: %2")
                            .arg(m_volume)
                            .arg(m_nextVolume));
    else if (!m_ended && m_damage.isEmpty())
        m_damage.append(QStringLiteral("the dump breaks off before its end record; its next "
                                       "volume is not in this image"));
    if (!m_ended)
        markCut();
    resolve();
    return true;
}

void DumpIndex::take(const DumpHeader &header, qint64 number, qint64 at)
{
    const qint32 type = header.type();
    const auto number32 = quint32(header.word(DumpHeader::inodeNumberAt));
    QByteArray present;
    for (int i = 0; i < header.addressEntries(); ++i)
        present.append(header.addressPresent(i) ? '\1' : '\0');
    switch (type) {
    case DumpHeader::Inode: {
        Inode inode;
        constexpr std::size_t base = DumpHeader::inodeAt;
        inode.mode = header.half(base);
        inode.size = qint64(std::min<quint64>(header.doubleWord(base + 8), quint64(1) << 50));
        inode.metadata.mode = inode.mode & 07777;
        // Times as seconds and microseconds.
        inode.metadata.hasAtime = inode.metadata.hasMtime = true;
        inode.metadata.atime = header.word(base + 16);
        inode.metadata.atimeNsec = long(std::clamp(header.word(base + 20), 0, 999999)) * 1000;
        inode.metadata.mtime = header.word(base + 24);
        inode.metadata.mtimeNsec = long(std::clamp(header.word(base + 28), 0, 999999)) * 1000;
        inode.metadata.uid = m_oldFormat ? header.half(base + 4) : quint32(header.word(base + 112));
        inode.metadata.gid = m_oldFormat ? header.half(base + 6) : quint32(header.word(base + 116));
        // A device's number in the first block address, as the file system keeps it.
        const auto oldStyle = quint32(header.word(base + 40));
        const auto newStyle = quint32(header.word(base + 44));
        inode.device = oldStyle != 0
            ? makedev((oldStyle >> 8) & 0xff, oldStyle & 0xff)
            : makedev((newStyle & 0xfff00) >> 8, (newStyle & 0xff) | ((newStyle >> 12) & 0xfff00));
        inode.chunks.append({ number, present });
        m_inodes.insert(number32, inode);
        m_current = number32;
        m_currentBlocks = present.size();
        break;
    }
    case DumpHeader::Addresses:
        if (m_current != 0 && number32 == m_current) {
            m_inodes[m_current].chunks.append({ number, present });
            m_currentBlocks += present.size();
        }
        break;
    case DumpHeader::Bits: {
        unsigned char record[recordSize];
        QByteArray map;
        for (qint64 r = 0, n = number; r < header.followingRecords(); ++r) {
            n = nextData(n);
            const qint64 place = physical(n);
            if (place < 0 || unreadable(place) || !readRecord(place, record)) {
                map.clear();
                break;
            }
            map.append(reinterpret_cast<const char *>(record), int(recordSize));
        }
        m_dumped = map;
        break;
    }
    case DumpHeader::End:
        m_ended = true;
        m_current = 0;
        m_end = at + recordSize;
        break;
    default: // a later volume's tape header: the file broken off goes on after it
        break;
    }
    if (type == DumpHeader::End) {
        // The volume fills whole tape blocks of its own size.
        const Volume &volume = m_volumes.last();
        const qint64 blocks = (m_end - volume.start + m_blockSize - 1) / m_blockSize;
        m_end = std::min(volume.limit, volume.start + blocks * m_blockSize);
    }
}

void DumpIndex::resolve()
{
    for (auto it = m_inodes.begin(); it != m_inodes.end(); ++it) {
        Inode &inode = it.value();
        // No more blocks than its headers describe: a size in a header may claim a petabyte.
        qint64 described = 0;
        for (const Inode::Chunk &chunk : qAsConst(inode.chunks))
            described += chunk.present.size();
        const qint64 count = std::min(inode.blockCount(), described);
        inode.cut = inode.cut || count < inode.blockCount();
        inode.blocks.fill(missing, int(count));
        qint64 block = 0;
        for (const Inode::Chunk &chunk : qAsConst(inode.chunks)) {
            qint64 number = chunk.header;
            for (int i = 0; i < chunk.present.size(); ++i, ++block) {
                qint64 at = hole;
                if (chunk.present.at(i) != 0) {
                    number = nextData(number);
                    at = physical(number);
                    if (at < 0) {
                        at = missing;
                    } else if (unreadable(at)) {
                        if (inode.damagedAt < 0) {
                            inode.damagedAt = at;
                            inode.damagedByte = block * recordSize;
                        }
                    }
                }
                if (block < count)
                    inode.blocks[int(block)] = at;
            }
        }
        const auto lost = std::find(inode.blocks.cbegin(), inode.blocks.cend(), missing);
        if (lost != inode.blocks.cend() && inode.damagedByte < 0)
            inode.damagedByte = (lost - inode.blocks.cbegin()) * recordSize;
        else if (count < inode.blockCount() && inode.damagedByte < 0)
            inode.damagedByte = count * recordSize;
    }
}

QByteArray DumpIndex::smallData(const Inode &inode, qint64 most) const
{
    QByteArray data;
    unsigned char record[recordSize];
    const qint64 size = std::min(inode.size, most);
    for (int b = 0; b < inode.blocks.size() && data.size() < size; ++b) {
        const qint64 at = inode.blocks.at(b);
        // A folder or link ends before an unreadable record: its bytes would be names.
        if (at == missing || (at >= 0 && (unreadable(at) || !readRecord(at, record))))
            return data;
        if (at == hole)
            std::fill(record, record + recordSize, 0);
        data.append(reinterpret_cast<const char *>(record),
            int(std::min<qint64>(recordSize, size - data.size())));
    }
    return data;
}

void DumpIndex::addEntry(const QByteArray &path, quint32 number)
{
    const Inode *node = inode(number);
    const bool inMap = m_dumped.isEmpty()
        || (number > 0 && (number - 1) / 8 < uint(m_dumped.size())
            && (uchar(m_dumped.at(int((number - 1) / 8))) >> ((number - 1) % 8)) & 1);
    if (!node && !inMap)
        return; // not in this dump (an incremental one holds only what changed)
    FoundEntry entry;
    entry.rawPath = path;
    entry.path = QString::fromUtf8(path);
    if (!node) {
        entry.damaged = true;
        m_entries.append(entry);
        m_entryInodes.append(number);
        return;
    }
    entry.mtime = node->metadata.mtime;
    const uint type = node->mode & S_IFMT;
    const auto first = m_firstName.constFind(number);
    if (type != S_IFDIR && first != m_firstName.cend()) {
        entry.type = FoundEntry::Hardlink;
        entry.rawLinkTarget = m_entries.at(first.value()).rawPath;
        entry.linkTarget = QString::fromUtf8(entry.rawLinkTarget);
        entry.dataEntry = first.value();
        entry.damaged = node->isDamaged();
    } else {
        entry.type = type == S_IFDIR ? FoundEntry::Directory
            : type == S_IFREG        ? FoundEntry::File
            : type == S_IFLNK        ? FoundEntry::Symlink
                                     : FoundEntry::Other;
        entry.size = type == S_IFREG ? node->size : 0;
        if (type == S_IFLNK) {
            entry.rawLinkTarget = smallData(*node, longestTarget);
            entry.linkTarget = QString::fromUtf8(entry.rawLinkTarget);
        }
        entry.damaged = node->isDamaged();
        if (node->damagedAt >= 0) {
            entry.unreadableAt = node->damagedAt;
            entry.unreadableByte = node->damagedByte;
        }
        m_firstName.insert(number, m_entries.size());
    }
    m_entries.append(entry);
    m_entryInodes.append(number);
}

void DumpIndex::name(quint32 folder, const QByteArray &path, int depth)
{
    const Inode *node = inode(folder);
    if (!node || (node->mode & S_IFMT) != S_IFDIR || m_named.contains(folder) || depth > 4096)
        return;
    m_named.insert(folder);
    const QByteArray data = smallData(*node, qint64(64) << 20);
    QVector<QPair<QByteArray, quint32>> children;
    for (int at = 0; at + 8 <= data.size();) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData() + at);
        quint32 number;
        quint16 length;
        std::memcpy(&number, bytes, 4);
        std::memcpy(&length, bytes + 4, 2);
        if (m_swapped) {
            number = DumpHeader::swap32(number);
            length = quint16((length >> 8) | (length << 8));
        }
        if (length < 8 || at + length > data.size())
            break; // the rest of the folder is damaged
        // The name's length: one byte after the type, or a 16-bit word in the old layout.
        int nameLength = m_oldFormat
            ? (m_swapped ? bytes[7] | bytes[6] << 8 : bytes[6] | bytes[7] << 8)
            : bytes[7];
        const char *text = reinterpret_cast<const char *>(bytes + 8);
        if (nameLength > length - 8)
            nameLength = int(qstrnlen(text, uint(length - 8)));
        const QByteArray leaf(text, nameLength);
        at += length;
        if (number == 0 || leaf.isEmpty() || leaf == "." || leaf == ".." || leaf.contains('/')
            || leaf.contains('\0'))
            continue;
        children.append({ leaf, number });
    }
    for (const auto &child : children) {
        const QByteArray childPath = path.isEmpty() ? child.first : path + '/' + child.first;
        addEntry(childPath, child.second);
        name(child.second, childPath, depth + 1);
    }
}

FoundArchive DumpIndex::archive()
{
    name(rootInode, QByteArray(), 0);
    // Files whose folder was lost keep their data under their inode's number.
    QList<quint32> numbers = m_inodes.keys();
    std::sort(numbers.begin(), numbers.end());
    for (quint32 number : qAsConst(numbers)) {
        if (number == rootInode || m_named.contains(number) || m_firstName.contains(number))
            continue;
        addEntry("#" + QByteArray::number(number), number);
        m_entries.last().damaged = true;
    }
    FoundArchive archive;
    archive.offset = m_volumes.first().start;
    archive.length = std::max<qint64>(m_end - archive.offset, recordSize);
    archive.format = formatPrefix + m_label;
    if (m_volumes.size() > 1)
        archive.format += QStringLiteral(", %1 volumes joined").arg(m_volumes.size());
    archive.entries = m_entries;
    int lost = 0;
    for (const FoundEntry &entry : qAsConst(m_entries))
        lost += entry.damaged ? 1 : 0;
    if (!m_damage.isEmpty() || lost > 0) {
        archive.damaged = true;
        archive.damageInside = m_firstDamage >= 0 ? m_firstDamage : -1;
        QStringList notes = m_damage;
        if (lost > 0)
            notes.append(QStringLiteral("%1 file(s) lost data or their name").arg(lost));
        archive.note = notes.join(QStringLiteral("; "));
    }
    return archive;
}

/// Writes what was chosen of one dump.
class DumpWrite
{
public:
    DumpWrite(const ScanResult &result, int index, RestoreRun &run, DumpIndex &dump)
        : m_result(result)
        , m_archive(result.archives.at(index))
        , m_index(index)
        , m_run(run)
        , m_dump(dump)
        , m_limit(sizeLimit(m_archive, run.maxSize))
    {
    }

    bool restore(int entry);
    bool stopped() const { return m_stopped; }

private:
    bool problem(const QString &text)
    {
        m_run.problems.append(text);
        return false;
    }
    bool writeFile(const Inode &inode, const QByteArray &name, QByteArray *used);
    bool mayWrite(qint64 size, const QByteArray &name);

    const ScanResult &m_result;
    const FoundArchive &m_archive;
    const int m_index;
    RestoreRun &m_run;
    DumpIndex &m_dump;
    const qint64 m_limit;
    qint64 m_written = 0;
    bool m_stopped = false;
    QHash<quint32, QByteArray> m_placed; ///< the name each inode was written as
};

bool DumpWrite::restore(int e)
{
    const FoundEntry &entry = m_archive.entries.at(e);
    const quint32 number = m_dump.entryInode(e);
    const Inode *inode = m_dump.inode(number);
    const QByteArray name
        = entryOutputPath(m_index, entryPath(entry), entry.type == FoundEntry::Directory);
    if (!inode)
        return problem(QStringLiteral("%1: not written: its records are not on the tape")
                           .arg(shownName(name)));
    const uint type = inode->mode & S_IFMT;
    QByteArray used;
    if (m_placed.contains(number)) {
        // Every name of a damaged file says so.
        used = m_run.folder.hardLink(
            m_placed.value(number), inode->isDamaged() ? name + ".damaged" : name);
    } else if (type == S_IFDIR) {
        return m_run.folder.makeFolder(name, inode->metadata)
            || problem(m_run.folder.errorString());
    } else if (type == S_IFREG) {
        return writeFile(*inode, name, &used) && (m_placed.insert(number, used), true);
    } else if (type == S_IFLNK) {
        const QByteArray target = m_dump.smallData(*inode, longestTarget);
        if (inode->isDamaged() || target.size() != inode->size || target.isEmpty()
            || target.contains('\0'))
            return problem(QStringLiteral("%1: a symbolic link whose target could not be read: "
                                          "not made")
                               .arg(shownName(name)));
        used = m_run.folder.symbolicLink(target, name, inode->metadata);
    } else if (type == S_IFIFO || type == S_IFCHR || type == S_IFBLK) {
        used = m_run.folder.special(name, type, inode->device, inode->metadata);
    } else {
        return problem(QStringLiteral("%1: a socket or other special file, not restored")
                           .arg(shownName(name)));
    }
    if (used.isEmpty())
        return problem(m_run.folder.errorString());
    m_placed.insert(number, used);
    m_run.written.append(shownName(used));
    return true;
}

bool DumpWrite::mayWrite(qint64 size, const QByteArray &name)
{
    const QString over = countWrite(m_run, m_index, m_written, m_limit, size, name);
    if (over.isEmpty())
        return true;
    m_stopped = true;
    return problem(over);
}

bool DumpWrite::writeFile(const Inode &inode, const QByteArray &name, QByteArray *used)
{
    RestoreFile file = m_run.folder.create(name, inode.metadata.mode);
    if (!file.isOpen())
        return problem(m_run.folder.errorString());
    unsigned char record[recordSize];
    qint64 known = 0; ///< bytes known good from the start
    bool gap = false;
    for (int b = 0; b < inode.blocks.size(); ++b) {
        if (m_run.cancelled()) {
            m_stopped = true;
            return false;
        }
        const qint64 at = inode.blocks.at(b);
        const qint64 offset = b * recordSize;
        const qint64 length = std::min(recordSize, inode.size - offset);
        gap = gap || at == missing || (at >= 0 && at == inode.damagedAt);
        if (at == hole || at == missing)
            continue;
        if (!mayWrite(length, name))
            return false;
        if (!m_dump.readRecord(at, record))
            return problem(QStringLiteral("%1: the image could not be read").arg(shownName(name)));
        if (!file.write(record, length, offset))
            return problem(QStringLiteral("%1: %2").arg(shownName(name), file.errorString()));
        if (!gap)
            known = offset + length;
        m_run.advance(length, name);
    }
    // A file whose last headers are lost ends where what is known of it does.
    if (!file.setLength(
            inode.cut ? std::min(inode.size, inode.blocks.size() * recordSize) : inode.size))
        return problem(QStringLiteral("%1: %2").arg(shownName(name), file.errorString()));
    const bool damaged = inode.isDamaged();
    *used
        = m_run.folder.place(file, inode.metadata, damaged ? QByteArray(".damaged") : QByteArray());
    if (used->isEmpty())
        return problem(m_run.folder.errorString());
    m_run.written.append(shownName(*used));
    if (!damaged)
        return true;
    return problem(QStringLiteral("%1: damaged: records of its data are unreadable or not on "
                                  "the tape, the first at byte %2 of it (its bytes there are "
                                  "zeros); written as %3")
                       .arg(shownName(name))
                       .arg(std::min(known, inode.damagedByte >= 0 ? inode.damagedByte : known))
                       .arg(shownName(*used)));
}

} // namespace

bool isDumpArchive(const FoundArchive &archive)
{
    return archive.format.startsWith(formatPrefix);
}

bool readDumpArchive(
    const ImageFacts &facts, BodyStream &stream, qint64 begin, FoundArchive *archive)
{
    DumpIndex dump(facts, stream);
    if (!dump.read(begin))
        return false;
    *archive = dump.archive();
    return !archive->entries.isEmpty();
}

bool restoreDumpArchive(
    const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run)
{
    const FoundArchive &archive = result.archives.at(index);
    BodyStream stream(result.facts);
    if (!stream.open()) {
        run.problems.append(QStringLiteral("Archive %1 could not be read again: %2")
                                .arg(index + 1)
                                .arg(stream.errorString()));
        return false;
    }
    DumpIndex dump(result.facts, stream);
    if (!dump.read(archive.offset) || dump.archive().entries.size() != archive.entries.size()) {
        run.problems.append(QStringLiteral("Archive %1 could not be read again").arg(index + 1));
        return false;
    }
    bool whole = !archive.damaged;
    if (archive.damaged)
        run.problems.append(QStringLiteral("Archive %1 is damaged: %2")
                                .arg(index + 1)
                                .arg(shownName(archive.note)));
    QList<int> chosen = entries.values();
    std::sort(chosen.begin(), chosen.end());
    qint64 wanted = 0;
    for (int e : qAsConst(chosen))
        wanted += trustedSize(archive.entries.value(e));
    const qint64 limit = sizeLimit(archive, run.maxSize);
    if (wanted > limit) {
        run.problems.append(QStringLiteral("Archive %1 expands to %2, more than the %3 one "
                                           "archive may write: not extracted (raise the limit "
                                           "with --max-size)")
                                .arg(index + 1)
                                .arg(SizeText::human(wanted), SizeText::human(limit)));
        return false;
    }
    DumpWrite write(result, index, run, dump);
    for (int e : qAsConst(chosen)) {
        if (e < 0 || e >= archive.entries.size())
            continue;
        whole = write.restore(e) && whole;
        if (write.stopped())
            return false;
    }
    return whole;
}

} // namespace Quorlin
