#include "scanner/core/archive_reader.h"

#include "scanner/core/archive_stream.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

namespace Quorlin {
namespace {

constexpr qint64 tarBlock = 512;

QString damageNote(qint64 imageOffset, const QString &why)
{
    return QStringLiteral("Damaged at image offset %1: %2. What follows is scanned again.")
        .arg(imageOffset)
        .arg(why);
}

/// Says, for every name of a hard-linked file, which entry stores its content:
/// in tar the first name, in newc cpio the last.
void settleHardLinks(QVector<FoundEntry> &entries, const QVector<int> &linkCounts, bool damaged)
{
    QHash<QString, int> firstNames;
    QHash<int, QVector<int>> groups;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].type != FoundEntry::Hardlink)
            firstNames.insert(entries[i].path, i);
        else if (firstNames.contains(entries[i].linkTarget))
            groups[firstNames.value(entries[i].linkTarget)].append(i);
    }
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        QVector<int> names = it.value();
        names.prepend(it.key());
        int holder = -1;
        for (int n = 0; n < names.size() && holder < 0; ++n)
            holder = entries[names[n]].size > 0 ? names[n] : -1;
        if (holder < 0) {
            // Its content was to come with a later name, in the part that was lost.
            const bool lost = damaged && linkCounts.value(it.key()) > names.size();
            for (int n : names)
                entries[n].damaged = entries[n].damaged || lost;
            continue;
        }
        for (int n : names)
            entries[n].dataEntry = n == holder ? -1 : holder;
    }
}

bool isZip(const QString &format)
{
    return format.startsWith(QLatin1String("ZIP"), Qt::CaseInsensitive);
}

} // namespace

void markDamage(ArchiveRead *read, const ImageFacts &facts, qint64 at, const QString &why)
{
    if (read->damageAt >= 0 && read->damageAt <= at)
        return;
    FoundArchive &archive = read->archive;
    read->damageAt = at;
    archive.damaged = true;
    archive.length = at - archive.offset;
    archive.note = damageNote(facts.imageOffset(at), why);
    for (int i = 0; i < archive.entries.size() && i < read->dataSpans.size(); ++i) {
        if (read->dataSpans[i].second > at) {
            archive.entries[i].damaged = true;
            archive.entries[i].unreadableAt = -1; // cut short now, whatever it held before
            archive.entries[i].unreadableByte = -1;
        }
    }
}

void markDamageInside(
    ArchiveRead *read, const ImageFacts &facts, qint64 from, qint64 to, const QString &why)
{
    FoundArchive &archive = read->archive;
    const bool compressed = !archive.filter.isEmpty();
    if (!archive.damaged) { // the first damage is the one named
        archive.damaged = true;
        archive.damageInside = from;
        archive.note = QStringLiteral("Damaged at image offset %1: %2%3.")
                           .arg(facts.imageOffset(from))
                           .arg(why,
                               compressed && read->decodedAtUnreadable < 0
                                   ? QStringLiteral("; which files hold its bytes, a "
                                                    "compressed stream does not tell")
                                   : QString());
    }
    for (int i = 0; i < archive.entries.size() && i < read->dataSpans.size(); ++i) {
        FoundEntry &entry = archive.entries[i];
        if (compressed) {
            // What was decoded before the record is good; from there on a file may hold
            // its bytes, and where the stream does not tell, any file may.
            const auto span = read->decodedSpans.value(i, { -1, -1 });
            const qint64 good = read->decodedAtUnreadable;
            if (good >= 0 && span.second >= 0 && span.second <= good)
                continue;
            if (!entry.damaged) {
                entry.unreadableAt = from;
                entry.unreadableByte
                    = good >= 0 && span.first >= 0 ? std::max<qint64>(0, good - span.first) : -1;
            }
            entry.damaged = true;
            continue;
        }
        const auto &span = read->dataSpans[i];
        if (span.first >= to || span.second <= from)
            continue;
        if (!entry.damaged) { // one cut short stays so
            entry.unreadableAt = std::max(span.first, from);
            entry.unreadableByte = entry.unreadableAt - span.first;
        }
        entry.damaged = true;
    }
}

namespace {

/// Lists the entries from the first header (read with @p status) on. Returns the
/// status of the last header read; @p before is the stream position before it.
int listEntries(const ImageFacts &facts, ArchiveStream &stream, archive_entry *entry, int status,
    ArchiveRead *out, QVector<int> *linkCounts, qint64 *before, const std::atomic<bool> *cancel)
{
    FoundArchive &found = out->archive;
    const qint64 begin = found.offset;
    const bool plain = !stream.isCompressed();
    for (;;) {
        if (status == ARCHIVE_WARN && stream.errorString().startsWith(QLatin1String("Skipped"))) {
            // cpio found its next header only after skipping over garbage.
            found.damaged = true;
            found.note = QStringLiteral("Damaged before image offset %1: %2.")
                             .arg(facts.imageOffset(begin + stream.consumed()))
                             .arg(stream.errorString());
        }
        found.entries.append(describeEntry(entry));
        linkCounts->append(int(archive_entry_nlink(entry)));
        *before = stream.consumed();
        const qint64 decoded = stream.decodedPosition();
        const bool skipped = archive_read_data_skip(stream.handle()) == ARCHIVE_OK;
        out->dataSpans.append(plain ? qMakePair(begin + *before, begin + stream.consumed())
                                    : qMakePair(qint64(-1), qint64(-1)));
        out->decodedSpans.append(qMakePair(decoded, stream.decodedPosition()));
        if (!skipped) {
            found.entries.last().damaged = true;
            return status;
        }
        if (cancel && cancel->load())
            return status;
        *before = stream.consumed();
        status = archive_read_next_header(stream.handle(), &entry);
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return status;
    }
}

/// A zip stores a symbolic link as an entry holding its target, and says it is
/// one only in its central directory: listed as the link it is.
void findZipLinks(const ImageFacts &facts, FoundArchive &found)
{
    const QHash<QByteArray, uint> modes
        = zipUnixModes(facts, found.offset, found.offset + found.length);
    QSet<int> links;
    for (int e = 0; e < found.entries.size(); ++e) {
        if (found.entries[e].type == FoundEntry::File
            && (modes.value(found.entries[e].rawPath) & S_IFMT) == S_IFLNK)
            links.insert(e);
    }
    if (links.isEmpty())
        return;
    ArchiveStream stream(facts, found.offset, found.offset + found.length);
    archive_entry *entry = nullptr;
    for (int e = 0; e < found.entries.size() && !links.isEmpty() && stream.isOpen()
         && archive_read_next_header(stream.handle(), &entry) == ARCHIVE_OK;
         ++e) {
        if (!links.remove(e))
            continue;
        char target[4097];
        const la_ssize_t got = archive_read_data(stream.handle(), target, sizeof target);
        if (got <= 0 || got == la_ssize_t(sizeof target))
            continue;
        FoundEntry &link = found.entries[e];
        link.type = FoundEntry::Symlink;
        link.rawLinkTarget = QByteArray(target, int(got));
        link.linkTarget = QString::fromUtf8(link.rawLinkTarget);
    }
}

/// After the format's end: where the archive ends in the image.
void findEnd(const ImageFacts &facts, ArchiveStream &stream, qint64 end, ArchiveRead *out)
{
    FoundArchive &found = out->archive;
    found.length = stream.consumed();
    if (!stream.finishStream()) {
        markDamage(out, facts, stream.decodeErrorAt(),
            QStringLiteral("after the archive's end, %1, so its check could not be made and any "
                           "file may hold wrong bytes")
                .arg(stream.decodeError()));
        // Whole in length, every one of them, but nothing proves their bytes.
        for (FoundEntry &entry : found.entries) {
            entry.checkFailed = entry.checkFailed || !entry.damaged;
            entry.damaged = true;
        }
        return;
    }
    found.length = stream.consumed();
    const qint64 zipEnd
        = isZip(found.format) ? zipArchiveEnd(facts, found.offset + found.length, end) : -1;
    if (zipEnd > 0) {
        found.length = zipEnd - found.offset;
        findZipLinks(facts, found);
    }
}

/// The first record of zeros (an unreadable block, or the tape mark that ends a
/// tape file) that lies whole in [from, to); -1 when none.
qint64 zeroRecordIn(const ImageFacts &facts, qint64 from, qint64 to)
{
    const RecordLayout *layout = facts.layout.get();
    if (!layout || !layout->recordsKnown() || facts.tapFile || from >= to)
        return -1;
    BodyStream stream(facts);
    if (!stream.open())
        return -1;
    QByteArray record;
    for (qint64 at = layout->nextRecordStart(from); at < to;) {
        const qint64 end = layout->recordEnd(at);
        if (end > to || end <= at)
            break;
        record.resize(int(std::min<qint64>(end - at, INT_MAX)));
        if (end - at >= tarBlock && stream.readAt(at, record.data(), end - at) == end - at
            && allZero(
                reinterpret_cast<const unsigned char *>(record.constData()), std::size_t(end - at)))
            return at;
        at = end;
    }
    return -1;
}

/// Where a plain archive whose reading broke off at @p at (a header that did not
/// read, or the data start of a member whose data ran on to @p dataEnd, -1 when
/// not) ends. A member whose data holds a record of zeros and is followed by no
/// valid header ended at those zeros: its tape file ended there (what followed
/// belonged to the next one), or the block was unreadable. Else the scan goes on
/// at @p at, and a member cut short is read again up to @p readEnd.
qint64 plainDamageAt(
    const ImageFacts &facts, const ArchiveRead &read, qint64 at, qint64 dataEnd, qint64 *readEnd)
{
    if (read.dataSpans.isEmpty())
        return at;
    const auto &span = read.dataSpans.last();
    const qint64 end = dataEnd >= 0 ? std::max(span.first, dataEnd) : at;
    *readEnd = dataEnd >= 0 ? end : -1;
    // A .tap file's tape mark ends the member for certain.
    if (dataEnd >= 0 && facts.layout && facts.layout->tapeMarksKnown()
        && end == facts.layout->tapeFileEnd(span.first))
        return end;
    const qint64 zeros = zeroRecordIn(facts, span.first, end);
    if (zeros >= 0) {
        *readEnd = -1;
        return zeros;
    }
    // Where records differ in length, the run record still knows where tape files end.
    for (const qint64 mark : facts.recordedTapeMarks) {
        const qint64 stream = facts.layout ? facts.layout->streamOffsetAt(mark) : mark;
        if (stream > span.first && stream < end) {
            *readEnd = -1;
            return stream;
        }
    }
    return at;
}

/// A compressed archive broke off: the entries decoded past @p good, the bytes
/// known to be right, are damaged.
void markDecodedDamage(ArchiveRead *read, qint64 good)
{
    if (good < 0)
        return;
    FoundArchive &archive = read->archive;
    for (int i = 0; i < archive.entries.size() && i < read->decodedSpans.size(); ++i) {
        if (read->decodedSpans[i].second > good && !archive.entries[i].damaged) {
            archive.entries[i].damaged = true;
            archive.entries[i].unreadableAt = -1;
            archive.entries[i].unreadableByte = -1;
        }
    }
}

} // namespace

bool readArchive(const ImageFacts &facts, qint64 begin, qint64 end, Compression compression,
    ArchiveRead *out, const std::atomic<bool> *cancel)
{
    ArchiveStream stream(facts, begin, end, compression, ArchiveStream::Archive);
    archive_entry *entry = nullptr;
    int status
        = stream.isOpen() ? archive_read_next_header(stream.handle(), &entry) : ARCHIVE_FATAL;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
        return false;
    FoundArchive &found = out->archive;
    found.offset = begin;
    found.format = QString::fromUtf8(archive_format_name(stream.handle()));
    found.filter = stream.filterName();
    QVector<int> linkCounts;
    qint64 before = 0;
    status = listEntries(facts, stream, entry, status, out, &linkCounts, &before, cancel);
    const bool cancelled = cancel && cancel->load();
    out->decodedAtUnreadable = stream.decodedAtUnreadable();
    if (status != ARCHIVE_EOF && !cancelled) {
        // Plain streams break where the bad bytes begin; compressed ones where the
        // input known to be good ends, or as far as the decoder got.
        const bool dataCut = status == ARCHIVE_OK || status == ARCHIVE_WARN;
        qint64 at = begin + before;
        if (stream.isCompressed()) {
            at = stream.goodInputEnd() >= 0   ? std::max(begin, stream.goodInputEnd())
                : stream.decodeErrorAt() >= 0 ? stream.decodeErrorAt()
                                              : begin + stream.consumed();
        } else {
            at = plainDamageAt(
                facts, *out, at, dataCut ? begin + stream.consumed() : -1, &found.readEnd);
        }
        markDamage(out, facts, at, stream.errorString());
        if (stream.isCompressed())
            markDecodedDamage(out, stream.goodDecoded());
    } else if (!cancelled) {
        if (!stream.isCompressed()
            && found.format.contains(QLatin1String("tar"), Qt::CaseInsensitive))
            out->endMarkerAt = begin + before;
        findEnd(facts, stream, end, out);
    }
    if (out->damageAt >= 0 && !stream.isCompressed()
        && found.format.contains(QLatin1String("cpio"), Qt::CaseInsensitive))
        out->resumeAt = nextCpioHeader(facts, out->damageAt + 1, end);
    settleHardLinks(found.entries, linkCounts, found.damaged);
    return true;
}

} // namespace Quorlin
