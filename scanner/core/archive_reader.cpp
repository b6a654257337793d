#include "scanner/core/archive_reader.h"

#include "scanner/core/archive_stream.h"

#include <QHash>
#include <QSet>

#include <algorithm>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

namespace Quorlin {
namespace {

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
                               compressed ? QStringLiteral("; which files hold its bytes, a "
                                                           "compressed stream does not tell")
                                          : QString());
    }
    for (int i = 0; i < archive.entries.size() && i < read->dataSpans.size(); ++i) {
        const auto &span = read->dataSpans[i];
        FoundEntry &entry = archive.entries[i];
        if (compressed || span.first >= to || span.second <= from)
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
        const bool skipped = archive_read_data_skip(stream.handle()) == ARCHIVE_OK;
        out->dataSpans.append(plain ? qMakePair(begin + *before, begin + stream.consumed())
                                    : qMakePair(qint64(-1), qint64(-1)));
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
    if (status != ARCHIVE_EOF && !cancelled) {
        // Plain streams break where the bad bytes begin; compressed ones where
        // the decoder found them, or as far as it got.
        qint64 at = begin + before;
        if (stream.isCompressed())
            at = stream.decodeErrorAt() >= 0 ? stream.decodeErrorAt() : begin + stream.consumed();
        markDamage(out, facts, at, stream.errorString());
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
