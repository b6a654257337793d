#include "scanner/core/mtf_reader.h"

#include "scanner/core/body_stream.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"

#include <QDateTime>
#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace Quorlin {

const char mtfSetFormat[] = "MTF backup set";

namespace {

constexpr qint64 headerLength = 52; ///< the common block header
constexpr qint64 streamHeaderLength = 22;
constexpr qint64 checksumLimit = qint64(64) << 20; ///< larger streams are not summed again

// Block attributes of FILE and DIRB.
constexpr quint32 readOnlyAttribute = 0x100;
constexpr quint32 nameInStream = 0x20000;
constexpr quint32 corruptObject = 0x40000;
// Stream media format attributes.
constexpr quint16 streamEncrypted = 0x08;
constexpr quint16 streamCompressed = 0x10;
constexpr quint16 streamChecksummed = 0x20;
constexpr quint16 streamContinued = 0x01;
constexpr quint32 blockContinued = 0x01; ///< a block that goes on from the previous volume

const char *const blockIds[]
    = { "TAPE", "SSET", "VOLB", "DIRB", "FILE", "CFIL", "ESPB", "ESET", "EOTM", "SFMB" };

quint16 word(const unsigned char *p)
{
    return qFromLittleEndian<quint16>(p);
}

bool checksumMatches(const unsigned char *data, int words)
{
    quint16 sum = 0;
    for (int i = 0; i < words; ++i)
        sum ^= word(data + 2 * i);
    return sum == word(data + 2 * words);
}

bool isBlockHeader(const unsigned char *data, std::size_t available)
{
    if (available < std::size_t(headerLength))
        return false;
    const bool known = std::any_of(std::begin(blockIds), std::end(blockIds),
        [&](const char *id) { return std::memcmp(data, id, 4) == 0; });
    return known && checksumMatches(data, 25) && word(data + 8) >= headerLength;
}

/// Stream IDs are four capitals or digits; the checksum decides.
bool isStreamHeader(const unsigned char *data)
{
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = data[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return checksumMatches(data, 10);
}

bool plausibleBlockSize(qint64 size)
{
    return size >= 512 && size <= 65536 && size % 512 == 0;
}

/// The packed five-byte date as seconds since 1970; 0 when it is unset or no date.
qint64 packedDate(const unsigned char *p)
{
    quint64 v = 0;
    for (int i = 0; i < 5; ++i)
        v = v << 8 | p[i];
    const QDate date(int(v >> 26), int(v >> 22 & 0xf), int(v >> 17 & 0x1f));
    const QTime time(int(v >> 12 & 0x1f), int(v >> 6 & 0x3f), int(v & 0x3f));
    if (v == 0 || !date.isValid() || !time.isValid())
        return 0;
    return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
}

QString dateText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"));
}

/// The walk over one media, block by block.
class MtfWalk
{
public:
    MtfWalk(BodyStream &stream, const RecordLayout &layout, qint64 begin, qint64 end)
        : m_stream(stream)
        , m_layout(layout)
        , m_begin(begin)
        , m_end(end)
    {
    }

    MtfRead run()
    {
        qint64 pos = m_begin;
        m_lastEnd = m_begin;
        while (pos + headerLength <= m_end && !m_ended) {
            const QByteArray header = read(pos, headerLength);
            if (isBlockHeader(bytes(header), std::size_t(header.size()))) {
                // A tape mark of a length that is no whole number of blocks moves the grid.
                if ((pos - m_base) % m_block != 0)
                    m_base = pos;
                pos = takeBlock(pos, header);
                continue;
            }
            const qint64 zeroStep = (pos - m_base) % m_block == 0 ? m_block : 512;
            const QByteArray block = read(pos, zeroStep);
            if (allZero(bytes(block), std::size_t(block.size()))) {
                pos += zeroStep; // a tape mark in the image, or padding
                continue;
            }
            if (m_set < 0 && !setGoesOn(pos))
                break; // outside a set, what is no block is the next thing on the tape
            const qint64 next = nextBlock(pos + m_block);
            damage(pos,
                QStringLiteral("a damaged descriptor block at offset %1 was skipped to the next "
                               "block at %2: what it held is lost")
                    .arg(pos)
                    .arg(next));
            pos = next;
        }
        if (m_set >= 0)
            damage(-1,
                QStringLiteral("the set ends before its end block: files after its last "
                               "block may be lost"));
        closeSet(m_lastEnd);
        if (m_read.sets.isEmpty()) {
            FoundArchive media = newArchive(m_begin);
            media.length = m_lastEnd - m_begin;
            media.note = m_mediaNote + QStringLiteral("; no backup set follows");
            m_read.sets.append(media);
        }
        markUnreadable();
        m_read.end = std::max(m_lastEnd, m_begin + 1);
        return m_read;
    }

private:
    static const unsigned char *bytes(const QByteArray &b)
    {
        return reinterpret_cast<const unsigned char *>(b.constData());
    }

    QByteArray read(qint64 pos, qint64 length)
    {
        length = std::max<qint64>(0, std::min(length, m_end - pos));
        QByteArray out(int(length), Qt::Uninitialized);
        const qint64 got = length > 0 ? m_stream.readAt(pos, out.data(), length) : 0;
        out.resize(int(std::max<qint64>(got, 0)));
        return out;
    }

    qint64 boundary(qint64 pos) const
    {
        return m_base + (pos - m_base + m_block - 1) / m_block * m_block;
    }

    /// The next valid descriptor block on the logical block grid at or after @p from.
    /// Outside a set: whether the bytes at @p at are a damaged SSET, with the blocks of
    /// its folders and files close behind it.
    bool setGoesOn(qint64 at)
    {
        constexpr qint64 lookAhead = 64;
        const qint64 next = nextBlock(at + m_block, at + lookAhead * m_block);
        const QByteArray id = read(next, 4);
        return next < m_end && (id == "VOLB" || id == "DIRB" || id == "FILE");
    }

    qint64 nextBlock(qint64 from, qint64 before = -1)
    {
        const qint64 stop = before < 0 ? m_end : std::min(before, m_end);
        for (qint64 pos = boundary(from); pos + headerLength <= stop; pos += m_block) {
            const QByteArray header = read(pos, headerLength);
            if (isBlockHeader(bytes(header), std::size_t(header.size())))
                return pos;
        }
        return m_end;
    }

    QString text(const QByteArray &block, int at, int type) const
    {
        if (at + 4 > block.size())
            return QString();
        const auto *p = bytes(block);
        const int size = word(p + at);
        const int offset = word(p + at + 2);
        if (size == 0 || offset + size > block.size())
            return QString();
        if (type == 2)
            return QString::fromUtf16(
                reinterpret_cast<const char16_t *>(block.constData() + offset), size / 2);
        return QString::fromLatin1(block.constData() + offset, size);
    }

    FoundArchive newArchive(qint64 at) const
    {
        FoundArchive archive;
        archive.offset = at;
        archive.format = QString::fromLatin1(mtfSetFormat);
        return archive;
    }

    FoundArchive *set() { return m_set >= 0 ? &m_read.sets[m_set] : nullptr; }

    void damage(qint64 at, const QString &why)
    {
        if (!set()) {
            m_set = m_read.sets.size();
            m_read.sets.append(newArchive(m_read.sets.isEmpty() ? m_begin : at));
            set()->note = QStringLiteral("a set whose start block is damaged or on an earlier "
                                         "volume");
        }
        FoundArchive *archive = set();
        if (!archive->damaged && at >= 0)
            archive->damageInside = at;
        archive->damaged = true;
        archive->note += (archive->note.isEmpty() ? QString() : QStringLiteral("; ")) + why;
    }

    void closeSet(qint64 end)
    {
        if (FoundArchive *archive = set())
            archive->length = std::max<qint64>(0, end - archive->offset);
        m_set = -1;
        m_file = -1;
    }

    /// Processes the block at @p pos and its streams; returns where the next block may start.
    qint64 takeBlock(qint64 pos, const QByteArray &header)
    {
        const auto *h = bytes(header);
        const QByteArray id = header.left(4);
        const int firstEvent = word(h + 8);
        const int type = h[48];
        const QByteArray block = read(pos, std::max(firstEvent, 128));
        const auto *b = bytes(block);
        const auto u32 = [&](int at) {
            return at + 4 <= block.size() ? qFromLittleEndian<quint32>(b + at) : 0u;
        };
        const auto u16 = [&](int at) { return at + 2 <= block.size() ? word(b + at) : 0; };
        const auto when = [&](int at) { return at + 5 <= block.size() ? packedDate(b + at) : 0; };
        m_file = -1;
        if (id == "TAPE") {
            m_family = u32(52);
            m_sequence = u16(60);
            if (plausibleBlockSize(u16(84)))
                m_block = u16(84);
            m_softMark = std::max(1, int(u16(64)));
            m_mediaNote = QStringLiteral("media \"%1\", number %2, written %3")
                              .arg(text(block, 68, type))
                              .arg(u16(60))
                              .arg(dateText(when(88)));
        } else if (id == "SSET") {
            if (m_joining) {
                m_joining = false;
                const bool continued = qFromLittleEndian<quint32>(h + 4) & blockContinued;
                if (continued && u16(62) == m_setNumber) {
                    set()->note += QStringLiteral(", continued on media number %1").arg(m_sequence);
                    m_joined = true;
                    m_lastEnd = streams(pos, firstEvent);
                    return m_lastEnd;
                }
                damage(-1,
                    continued
                        ? QStringLiteral("the next media goes on with set %1, not this set %2")
                              .arg(u16(62))
                              .arg(m_setNumber)
                        : QStringLiteral("the next media begins a new set: this one does "
                                         "not go on there"));
            }
            if (set()) {
                damage(-1, QStringLiteral("the set ends without its end block"));
                closeSet(pos);
            }
            m_setNumber = u16(62);
            m_joined = false;
            m_cutEntry = -1;
            m_set = m_read.sets.size();
            // The first set holds the media's TAPE block too, so no region is left over.
            m_read.sets.append(newArchive(m_read.sets.isEmpty() ? m_begin : pos));
            QStringList facts {
                QStringLiteral("set %1 \"%2\"").arg(u16(62)).arg(text(block, 64, type)),
                QStringLiteral("description \"%1\"").arg(text(block, 68, type)),
                QStringLiteral("user \"%1\"").arg(text(block, 76, type)),
                QStringLiteral("written %1").arg(dateText(when(88)))
            };
            m_compression = u16(58);
            if (m_compression != 0)
                facts << QStringLiteral("compressed by the backup program (method %1)")
                             .arg(m_compression);
            if (!m_mediaNote.isEmpty())
                facts << m_mediaNote;
            set()->note = facts.join(QStringLiteral(", "));
            m_folders.clear();
        } else if (id == "VOLB") {
            if (set() && !m_joined)
                set()->note += QStringLiteral(", volume \"%1\" of \"%2\"")
                                   .arg(text(block, 60, type), text(block, 64, type));
        } else if (id == "DIRB") {
            QStringList parts = text(block, 80, type).split(QChar(0), Qt::SkipEmptyParts);
            m_folder = parts.join(QLatin1Char('/'));
            m_folders.insert(u32(76), m_folder);
            // A folder a continued set names again on the next media is listed already.
            const bool again = m_joined && (qFromLittleEndian<quint32>(h + 4) & blockContinued);
            if (!m_folder.isEmpty() && !again)
                addEntry(pos, FoundEntry::Directory, m_folder, u32(52), when(56), 0);
        } else if (id == "FILE") {
            const QString folder = m_folders.value(u32(76), m_folder);
            const QString name = text(block, 84, type);
            if ((qFromLittleEndian<quint32>(h + 4) & blockContinued) && takeCutFile(folder, name)) {
                m_lastEnd = streams(pos, firstEvent);
                checkJoinedSize();
                return m_lastEnd;
            }
            addEntry(pos, FoundEntry::File,
                folder.isEmpty() ? name : folder + QLatin1Char('/') + name, u32(52), when(56),
                qint64(qFromLittleEndian<quint64>(h + 12)));
            m_file = set()->entries.size() - 1;
            if (qFromLittleEndian<quint32>(h + 4) & blockContinued)
                markDamaged(file(),
                    QStringLiteral("it begins on an earlier volume: only its part on this one "
                                   "is here"));
        } else if (id == "CFIL") {
            if (FoundEntry *last = lastFile())
                markDamaged(last,
                    QStringLiteral("the backup program could not read it whole when it wrote "
                                   "the set"));
        } else if (id == "ESET") {
            m_lastEnd = streams(pos, firstEvent);
            closeSet(m_lastEnd);
            return m_lastEnd;
        } else if (id == "EOTM") {
            const qint64 next = nextMedia(pos);
            if (next < 0) {
                m_ended = true;
            } else {
                m_lastEnd = next;
                return next;
            }
        } else if (id == "SFMB") {
            m_lastEnd = std::min(pos + qint64(m_softMark) * m_block, m_end);
            return m_lastEnd;
        }
        m_lastEnd = streams(pos, firstEvent);
        return m_lastEnd;
    }

    void addEntry(qint64 at, FoundEntry::Type type, const QString &path, quint32 attributes,
        qint64 mtime, qint64 size)
    {
        if (!set())
            damage(at, QStringLiteral("its first blocks are lost"));
        FoundEntry entry;
        entry.type = type;
        entry.path = path;
        entry.mtime = mtime;
        m_declaredSize = size;
        entry.mode = type == FoundEntry::Directory ? 0755
            : (attributes & readOnlyAttribute)     ? 0444
                                                   : 0644;
        set()->entries.append(entry);
        if (attributes & corruptObject)
            markDamaged(&set()->entries.last(),
                QStringLiteral("the backup program marked it as not read whole"));
    }

    FoundEntry *lastFile()
    {
        FoundArchive *archive = set();
        if (!archive)
            return nullptr;
        for (int i = archive->entries.size() - 1; i >= 0; --i)
            if (archive->entries[i].type == FoundEntry::File)
                return &archive->entries[i];
        return nullptr;
    }

    void markDamaged(FoundEntry *entry, const QString &why)
    {
        if (!entry->damaged)
            entry->note = why;
        entry->damaged = true;
        set()->damaged = true;
    }

    FoundEntry *file() { return m_file >= 0 && set() ? &set()->entries[m_file] : nullptr; }

    /// Walks the streams of the block at @p pos; returns where the next block may start.
    qint64 streams(qint64 pos, int firstEvent)
    {
        qint64 at = pos + firstEvent;
        qint64 stanAt = m_resumeAt;
        m_resumeAt = 0;
        bool sparse = false;
        qint64 lastData = -1;
        qint64 lastLength = 0;
        while (true) {
            if (at + streamHeaderLength > m_end) {
                if (FoundEntry *f = file())
                    markDamaged(f, QStringLiteral("the tape ends inside it"));
                return m_end;
            }
            const QByteArray header = read(at, streamHeaderLength);
            const auto *h = bytes(header);
            if (!isStreamHeader(h)) {
                if ((at - m_base) % m_block == 0 && at > pos) {
                    const QByteArray next = read(at, headerLength);
                    if (isBlockHeader(bytes(next), std::size_t(next.size())))
                        return at;
                }
                const qint64 next = nextBlock(at + 1);
                if (FoundEntry *f = file())
                    markDamaged(f,
                        QStringLiteral("a damaged stream at offset %1: what it and the streams "
                                       "after it held is lost")
                            .arg(at));
                else
                    damage(at,
                        QStringLiteral("a damaged stream at offset %1 was skipped to the next "
                                       "block at %2")
                            .arg(at)
                            .arg(next));
                return next;
            }
            const QByteArray id = header.left(4);
            const quint16 media = word(h + 6);
            const auto length = qint64(std::min<quint64>(qFromLittleEndian<quint64>(h + 8),
                quint64(std::numeric_limits<qint64>::max() / 2)));
            const qint64 data = at + streamHeaderLength;
            if (id == "SPAD")
                return data + length > m_end ? m_end : boundary(data + length);
            // A stream never runs over a tape mark: what follows one is the next tape file.
            // Nor over the end of a volume: the next image given is the next media.
            const qint64 limit = std::min(m_end, m_layout.tapeFileEnd(data));
            const qint64 available = std::max<qint64>(0, std::min(length, limit - data));
            FoundEntry *f = file();
            qint64 zeros
                = (f && (id == "STAN" || id == "SPAR")) ? zeroRecordIn(data, available) : -1;
            // A record of zeros inside the data is data when the blocks go on where the
            // stream's length says: a tape mark there would have moved what follows.
            if (zeros >= 0 && chainGoesOn(pos, data + length))
                zeros = -1;
            const qint64 whole = zeros >= 0 ? lastDataBefore(data, zeros) - data : available;
            if (zeros >= 0) {
                noteCut(id);
                markDamaged(f,
                    QStringLiteral("a record of zeros, as a tape mark or an unreadable block is "
                                   "written, inside its data at offset %1: the rest is not kept")
                        .arg(zeros));
            }
            if (f && id == "STAN") {
                if ((media & (streamCompressed | streamEncrypted)) && f->note.isEmpty()) {
                    const bool compressed = media & streamCompressed;
                    f->path += compressed ? QStringLiteral(".compressed")
                                          : QStringLiteral(".encrypted");
                    f->note = compressed
                        ? QStringLiteral("compressed by the backup program: written as stored, "
                                         "not decoded")
                        : QStringLiteral("encrypted by the backup program: written as stored, "
                                         "not decrypted");
                }
                if ((media & streamContinued) && stanAt == 0)
                    markDamaged(f,
                        QStringLiteral("its data begins on an earlier volume: only its part on "
                                       "this one is here"));
                f->pieces.append({ stanAt, data, whole });
                stanAt += whole;
                f->size = std::max(f->size, stanAt);
                lastData = (media & streamChecksummed) ? data : -1;
                lastLength = available;
            } else if (f && id == "SPAR" && available >= 8) {
                const QByteArray offset = read(data, 8);
                const qint64 fileOffset = offset.size() == 8
                    ? qint64(std::min<quint64>(
                        qFromLittleEndian<quint64>(bytes(offset)), quint64(1) << 60))
                    : 0;
                const qint64 kept = std::max<qint64>(0, whole - 8);
                f->pieces.append({ fileOffset, data + 8, kept });
                f->size = std::max(f->size, fileOffset + kept);
                sparse = true;
            } else if (f && id == "ADAT" && available >= 4) {
                addAlternate(*f, data, available);
            } else if (f && id == "FNAM") {
                const QByteArray name = read(data, std::min<qint64>(available, 4096));
                const QString folder = f->path.section(QLatin1Char('/'), 0, -2);
                const QString shown = QString::fromUtf16(
                    reinterpret_cast<const char16_t *>(name.constData()), name.size() / 2);
                f->path = folder.isEmpty() ? shown : folder + QLatin1Char('/') + shown;
            } else if (f && id == "CSUM" && lastData >= 0 && available == 4
                && lastLength <= checksumLimit) {
                if (!checksumHolds(lastData, lastLength, read(data, 4)))
                    markDamaged(f,
                        QStringLiteral("its data does not match the checksum the backup "
                                       "program stored"));
            }
            if (zeros >= 0)
                return zeros; // the blocks after the tape mark are read as blocks
            if (available < length) {
                noteCut(id);
                if (FoundEntry *cut = file())
                    markDamaged(cut,
                        limit < m_end ? QStringLiteral("its tape file ends inside it")
                                      : QStringLiteral("the tape ends inside it"));
                return limit < m_end ? limit : m_end;
            }
            at = pos + (data + length - pos + 3) / 4 * 4; // headers sit on 4-byte steps
            if (sparse && file())
                file()->size = std::max(file()->size, m_declaredSize);
        }
    }

    /// Whether the streams after the one ending at @p streamEnd, in the block at @p pos,
    /// chain on to the next descriptor block on the logical block grid. A tape mark
    /// inside the data would have put other bytes where they lie: a header or two may
    /// match there by chance, the whole chain up to a block does not.
    bool chainGoesOn(qint64 pos, qint64 streamEnd)
    {
        constexpr int streamsLooked = 32;
        qint64 at = pos + (streamEnd - pos + 3) / 4 * 4;
        for (int i = 0; i < streamsLooked && at + streamHeaderLength <= m_end; ++i) {
            const QByteArray block = read(at, headerLength);
            if ((at - m_base) % m_block == 0
                && (isBlockHeader(bytes(block), std::size_t(block.size()))
                    || (i > 0 && isTapeMarkAt(at))))
                return true;
            if (block.size() < streamHeaderLength || !isStreamHeader(bytes(block)))
                return false;
            const quint64 length = qFromLittleEndian<quint64>(bytes(block) + 8);
            if (length > quint64(m_end - at))
                return false;
            const qint64 end = at + streamHeaderLength + qint64(length);
            at = block.startsWith("SPAD") ? boundary(end) : pos + (end - pos + 3) / 4 * 4;
        }
        return false;
    }

    /// A record of zeros that starts at @p at: the filemark after a set's last block.
    bool isTapeMarkAt(qint64 at)
    {
        if (!m_layout.recordsKnown() || m_layout.recordStart(at) != at)
            return false;
        const QByteArray record = read(at, m_layout.recordEnd(at) - at);
        return !record.isEmpty() && allZero(bytes(record), std::size_t(record.size()));
    }

    /// Where a whole record of zeros starts in the @p length bytes at @p data; -1 when none.
    /// In an image whose tape marks are records of zeros, one inside a file's data is
    /// where its tape file ended (or a block that could not be read): what follows
    /// is no part of it.
    qint64 zeroRecordIn(qint64 data, qint64 length)
    {
        if (!m_layout.recordsKnown() || m_layout.tapeMarksKnown())
            return -1;
        for (qint64 record = m_layout.nextRecordStart(data); record < data + length;
             record = m_layout.nextRecordStart(m_layout.recordEnd(record))) {
            const qint64 recordEnd = m_layout.recordEnd(record);
            if (recordEnd <= record)
                break;
            const QByteArray bytesThere = read(record, recordEnd - record);
            if (!bytesThere.isEmpty() && allZero(bytes(bytesThere), std::size_t(bytesThere.size())))
                return record;
        }
        return -1;
    }

    /// The end of the last byte that is not zero in [from, to), within the record
    /// before @p to: the zeros a record was padded with before a tape mark are no data.
    qint64 lastDataBefore(qint64 from, qint64 to)
    {
        const qint64 start = std::max(from, m_layout.recordStart(std::max(from, to - 1)));
        const QByteArray before = read(start, to - start);
        qint64 end = before.size();
        while (end > 0 && before[int(end - 1)] == '\0')
            --end;
        return start + end;
    }

    /// An alternate data stream: its name's length, the name in UTF-16, then its data,
    /// restored beside the file as "NAME:STREAM".
    void addAlternate(FoundEntry &owner, qint64 data, qint64 available)
    {
        const QByteArray lengthBytes = read(data, 4);
        const qint64 nameLength = qFromLittleEndian<quint32>(bytes(lengthBytes));
        if (nameLength > 1024 || 4 + nameLength > available)
            return;
        const QByteArray name = read(data + 4, nameLength);
        FoundEntry stream;
        stream.path = owner.path + QLatin1Char(':')
            + QString::fromUtf16(
                reinterpret_cast<const char16_t *>(name.constData()), name.size() / 2);
        stream.mtime = owner.mtime;
        stream.mode = owner.mode;
        stream.size = available - 4 - nameLength;
        stream.pieces.append({ 0, data + 4 + nameLength, stream.size });
        set()->entries.append(stream);
    }

    bool checksumHolds(qint64 data, qint64 length, const QByteArray &stored)
    {
        quint32 sum = 0;
        constexpr qint64 piece = 1 << 20;
        for (qint64 done = 0; done < length; done += piece) {
            QByteArray chunk = read(data + done, std::min(piece, length - done));
            if (chunk.size() != std::min(piece, length - done))
                return false;
            chunk.append(QByteArray((4 - chunk.size() % 4) % 4, '\0'));
            for (int i = 0; i < chunk.size(); i += 4)
                sum ^= qFromLittleEndian<quint32>(chunk.constData() + i);
        }
        return stored.size() == 4 && sum == qFromLittleEndian<quint32>(stored.constData());
    }

    /// A file's data stream broke off at its tape file's end: when that is the end of the
    /// media, the next media may carry it on.
    void noteCut(const QByteArray &id)
    {
        if (m_file < 0 || id != "STAN")
            return;
        m_cutEntry = m_file;
        m_cutSetDamaged = set()->damaged;
        m_cutDeclared = m_declaredSize;
    }

    /// At the end of tape marker at @p pos with a set open: where the next media, the
    /// next image given, goes on with the set, or -1 (the set then says why not).
    qint64 nextMedia(qint64 pos)
    {
        if (!set())
            return -1;
        const int volume = m_layout.volumeAt(pos);
        if (volume + 1 >= m_layout.volumeCount()) {
            damage(-1,
                QStringLiteral("the media ends inside it (end of tape marker): its next media "
                               "is not given"));
            return -1;
        }
        const qint64 start = m_layout.volumeStart(volume + 1);
        const QByteArray tape = read(start, 128);
        const auto *t = bytes(tape);
        QString why;
        if (!isMtfTapeBlock(t, std::size_t(tape.size())))
            why = QStringLiteral("image %1 given next does not begin with a media header")
                      .arg(volume + 2);
        else if (qFromLittleEndian<quint32>(t + 52) != m_family)
            why = QStringLiteral("image %1 given next is a media of another family")
                      .arg(volume + 2);
        else if (word(t + 60) != m_sequence + 1)
            why = QStringLiteral("image %1 given next is media number %2 where number %3 must "
                                 "follow (%4)")
                      .arg(volume + 2)
                      .arg(word(t + 60))
                      .arg(m_sequence + 1)
                      .arg(word(t + 60) > m_sequence + 1
                              ? QStringLiteral("a media is missing")
                              : QStringLiteral("the media are given out of order"));
        if (!why.isEmpty()) {
            damage(-1, QStringLiteral("the media ends inside it (end of tape marker); ") + why);
            return -1;
        }
        m_joining = true;
        m_base = start;
        return start;
    }

    /// A FILE block that goes on from the previous media: the file cut there, when the
    /// set goes on and the names agree, takes its data on.
    bool takeCutFile(const QString &folder, const QString &name)
    {
        if (!m_joined || m_cutEntry < 0)
            return false;
        FoundEntry &cut = set()->entries[m_cutEntry];
        if (cut.path != (folder.isEmpty() ? name : folder + QLatin1Char('/') + name))
            return false;
        cut.damaged = false;
        cut.note.clear();
        set()->damaged = m_cutSetDamaged;
        m_file = m_cutEntry;
        m_cutEntry = -1;
        m_resumeAt = cut.size;
        return true;
    }

    /// Its parts must add up to the size its first FILE block gave.
    void checkJoinedSize()
    {
        FoundEntry *f = file();
        if (f && !f->damaged && f->size != m_cutDeclared)
            markDamaged(f,
                QStringLiteral("its parts on the two media hold %1 bytes, not the %2 it has")
                    .arg(f->size)
                    .arg(m_cutDeclared));
    }

    /// Files whose data lies in blocks the image names as unreadable are damaged.
    void markUnreadable()
    {
        for (FoundArchive &archive : m_read.sets) {
            for (FoundEntry &entry : archive.entries) {
                for (const FoundEntry::Piece &piece : qAsConst(entry.pieces)) {
                    const auto runs = m_layout.unreadableIn(
                        piece.streamOffset, piece.streamOffset + piece.length);
                    if (runs.isEmpty())
                        continue;
                    if (!entry.damaged)
                        entry.note = QStringLiteral("holds bytes of a block the image names as "
                                                    "unreadable");
                    entry.damaged = true;
                    archive.damaged = true;
                    if (archive.damageInside < 0)
                        archive.damageInside
                            = std::max(runs.first().streamStart, piece.streamOffset);
                }
            }
        }
    }

    BodyStream &m_stream;
    const RecordLayout &m_layout;
    const qint64 m_begin;
    qint64 m_base = m_begin; ///< where the logical block grid is counted from
    const qint64 m_end;
    qint64 m_block = 1024;
    int m_softMark = 1;
    qint64 m_lastEnd = 0;
    bool m_ended = false;
    int m_set = -1;
    int m_file = -1;
    quint16 m_compression = 0;
    quint32 m_family = 0; ///< the media family of the TAPE block read last
    int m_sequence = 0; ///< its media sequence number
    int m_setNumber = 0;
    bool m_joining = false; ///< the next SSET must go on with the open set
    bool m_joined = false; ///< the open set goes on from the previous media
    int m_cutEntry = -1; ///< the file whose data broke off at the media's end
    bool m_cutSetDamaged = false; ///< whether its set was damaged before that
    qint64 m_cutDeclared = 0; ///< the size its FILE block gave
    qint64 m_resumeAt = 0; ///< where in its file the next STAN goes on
    qint64 m_declaredSize = 0;
    QString m_folder;
    QString m_mediaNote;
    QHash<quint32, QString> m_folders;
    MtfRead m_read;
};

} // namespace

bool isMtfTapeBlock(const unsigned char *data, std::size_t available)
{
    return available >= 94 && std::memcmp(data, "TAPE", 4) == 0 && isBlockHeader(data, available)
        && plausibleBlockSize(word(data + 84));
}

MtfRead readMtfMedia(BodyStream &stream, const RecordLayout &layout, qint64 begin, qint64 end)
{
    return MtfWalk(stream, layout, begin, end).run();
}

} // namespace Quorlin
