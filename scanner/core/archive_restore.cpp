#include "scanner/core/archive_restore.h"

#include "imaging/size_text.h"
#include "scanner/core/amanda_parts.h"
#include "scanner/core/archive_reader.h"
#include "scanner/core/archive_stream.h"
#include "scanner/core/dump_restore.h"
#include "scanner/core/extractor.h"
#include "scanner/core/mtf_reader.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/report.h"
#include "scanner/core/shown_name.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <sys/stat.h>

namespace Quorlin {
namespace {

QByteArray pathOf(archive_entry *entry)
{
    const char *path = archive_entry_pathname(entry);
    if (!path)
        path = archive_entry_pathname_utf8(entry);
    return QByteArray(path ? path : "");
}

/// A time as the file system takes it. libarchive reads a pax time before
/// 1970 such as "-10.25" as -10 and a quarter *forward*; turned back here
/// (a time between -1 and 0 cannot be told apart and stays as read).
void setTime(bool tar, qint64 seconds, long nanoseconds, qint64 *outSeconds, long *outNanoseconds)
{
    if (tar && seconds < 0 && nanoseconds > 0) {
        seconds -= 1;
        nanoseconds = 1000000000L - nanoseconds;
    }
    *outSeconds = seconds;
    *outNanoseconds = nanoseconds;
}

EntryMetadata metadataOf(archive *reader, archive_entry *entry)
{
    const bool tar = (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
    EntryMetadata metadata;
    metadata.mode = uint(archive_entry_perm(entry)) & 07777;
    metadata.uid = archive_entry_uid(entry);
    metadata.gid = archive_entry_gid(entry);
    metadata.hasMtime = archive_entry_mtime_is_set(entry);
    setTime(tar, archive_entry_mtime(entry), archive_entry_mtime_nsec(entry), &metadata.mtime,
        &metadata.mtimeNsec);
    metadata.hasAtime = archive_entry_atime_is_set(entry);
    setTime(tar, archive_entry_atime(entry), archive_entry_atime_nsec(entry), &metadata.atime,
        &metadata.atimeNsec);
    return metadata;
}

/// The walk over one archive, read again from its start.
class ArchiveWalk
{
public:
    ArchiveWalk(const ScanResult &result, int index, RestoreRun &run)
        : m_result(result)
        , m_archive(result.archives.at(index))
        , m_index(index)
        , m_run(run)
        , m_limit(sizeLimit(m_archive, run.maxSize))
    {
    }

    bool run(const QSet<int> &selected);

private:
    /// Names that share one file: the name written first, the chosen names
    /// still waiting for the data (cpio newc keeps it with the last name).
    struct Group
    {
        QByteArray placed;
        QList<QByteArray> waiting;
        EntryMetadata metadata;
        bool symbolic = false; ///< the names are one symbolic link: its target is no data
    };
    /// A chosen hard link whose target was not chosen: the target's data is
    /// written under the link's name.
    struct Claim
    {
        int entry;
        QByteArray name;
    };

    void planLinks(const QSet<int> &selected);
    bool restoreEntry(archive_entry *entry, int index, bool selected);
    bool restoreMember(archive_entry *entry, int index, bool selected);
    /// The name entry @p index makes: its own when chosen, that of a chosen
    /// link to it when not, or none.
    QByteArray nameFor(const QByteArray &path, int index, bool selected, bool folder);
    bool linkWaiting(Group &group);
    void finishGroups(bool complete);
    QByteArray writeData(archive_entry *entry, const QByteArray &name, bool rewrite);
    /// What copyData() wrote: bytes, and the end of the last piece.
    struct Copied
    {
        qint64 bytes = 0;
        qint64 end = 0;
    };
    bool copyData(RestoreFile &file, const QByteArray &name, int *status, Copied *copied);
    /// afio -Z stores each member that gzip made smaller as NAME.z, gzip data.
    bool isPackedMember(const QByteArray &path) const
    {
        return path.endsWith(".z") && path.size() > 2 && !path.endsWith("/.z")
            && (m_archive.format.contains(QLatin1String("cpio"), Qt::CaseInsensitive)
                || m_archive.format.contains(QLatin1String("afio"), Qt::CaseInsensitive));
    }
    /// Writes such a member decompressed under NAME. One that is no gzip data is
    /// written as it is; one that fails to decompress is kept as stored, as damaged.
    bool writeUnpacked(archive_entry *entry, const QByteArray &path, const QByteArray &name);
    /// Whether @p size more bytes of @p name stay within the limits; counts them.
    bool mayWrite(qint64 size, const QByteArray &name);
    QByteArray outputOf(const QByteArray &path, bool folder = false) const
    {
        return entryOutputPath(m_index, path, folder);
    }
    void wrote(const QByteArray &path, const QByteArray &used)
    {
        m_run.written.append(shownName(used));
        if (m_keepPlaced)
            m_placed.insert(path, used);
    }
    /// What the archive says of @p entry; a zip's mode from its central directory.
    EntryMetadata metadataFor(archive_entry *entry) const
    {
        EntryMetadata metadata = metadataOf(m_reader, entry);
        const auto mode = m_zipModes.constFind(pathOf(entry));
        if (mode != m_zipModes.cend())
            metadata.mode = mode.value() & 07777;
        return metadata;
    }
    /// A zip stores a symbolic link as a file that holds its target.
    QByteArray zipLinkTarget(const QByteArray &path);
    bool problem(const QString &text)
    {
        m_run.problems.append(text);
        return false;
    }

    const ScanResult &m_result;
    const FoundArchive &m_archive;
    const int m_index;
    RestoreRun &m_run;
    const qint64 m_limit;
    archive *m_reader = nullptr;
    qint64 m_written = 0;
    bool m_stopped = false; ///< the limit was reached or the run cancelled
    int m_current = -1; ///< the index of the entry being restored
    bool m_keepPlaced = false;
    QHash<QByteArray, QByteArray> m_placed;
    QHash<QByteArray, QByteArray> m_rootOf; ///< a name to the first name of its file
    QHash<QByteArray, Group> m_groups;
    QHash<QByteArray, Claim> m_claims; ///< by the unchosen target's path
    QSet<int> m_claimed; ///< chosen links already made as their target
    QSet<QByteArray> m_linkTargets; ///< paths that hard links in the listing point to
    QSet<QByteArray> m_waitingGroups; ///< groups with names waiting for their data
    QHash<QByteArray, uint> m_zipModes; ///< a zip's modes and types, by stored name
};

bool ArchiveWalk::run(const QSet<int> &selected)
{
    qint64 wanted = 0;
    for (int e : selected)
        wanted += trustedSize(m_archive.entries.value(e));
    if (wanted > m_limit)
        return problem(QStringLiteral("Archive %1 expands to %2, more than the %3 one archive may "
                                      "write: not extracted (raise the limit with --max-size)")
                           .arg(m_index + 1)
                           .arg(SizeText::human(wanted), SizeText::human(m_limit)));
    planLinks(selected);
    // A zip's streamed headers carry no mode; its central directory, at its end, does.
    if (m_archive.format.startsWith(QLatin1String("ZIP"), Qt::CaseInsensitive))
        m_zipModes
            = zipUnixModes(m_result.facts, m_archive.offset, m_archive.offset + m_archive.length);
    m_keepPlaced = m_index + 1 < m_result.archives.size()
        && (m_result.archives.at(m_index + 1).continuation
            || m_result.archives.at(m_index + 1).volumeJoined);
    // A damaged archive is read no further than its damage, so what lies beyond (the
    // next tape file, garbage) never becomes part of a file; a whole one no further
    // than its tape file.
    const qint64 end = m_archive.damaged && m_archive.damageInside < 0
        ? std::max(m_archive.readEnd, m_archive.offset + m_archive.length)
        : m_result.facts.layout ? m_result.facts.layout->tapeFileEnd(m_archive.offset)
                                : m_result.facts.streamLength;
    ArchiveStream stream(m_result.facts, m_archive.offset, end);
    m_reader = stream.handle();
    // Whatever is picked from a damaged archive, the user must hear that it was damaged.
    bool whole = !m_archive.damaged;
    if (m_archive.damaged)
        problem(QStringLiteral("Archive %1 is damaged: %2")
                    .arg(m_index + 1)
                    .arg(shownName(m_archive.note)));
    int remaining = selected.size();
    int e = 0;
    for (; e < m_archive.entries.size() && !m_stopped; ++e) {
        if (remaining == 0 && m_claims.isEmpty() && m_waitingGroups.isEmpty())
            break;
        archive_entry *entry = nullptr;
        const int status
            = stream.isOpen() ? archive_read_next_header(m_reader, &entry) : ARCHIVE_FATAL;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            whole = problem(QStringLiteral("Archive %1 could not be read again: %2")
                                .arg(m_index + 1)
                                .arg(stream.errorString()));
            break;
        }
        const bool chosen = selected.contains(e);
        remaining -= chosen ? 1 : 0;
        whole = restoreEntry(entry, e, chosen) && whole;
    }
    finishGroups(!m_stopped && !m_archive.damaged && e == m_archive.entries.size());
    if (m_keepPlaced) // the volumes of one tar: links reach back to any of them
        m_run.placedBefore.insert(m_placed);
    return whole && !m_stopped;
}

void ArchiveWalk::planLinks(const QSet<int> &selected)
{
    QSet<QByteArray> chosenPaths;
    for (int e : selected)
        chosenPaths.insert(entryPath(m_archive.entries.value(e)));
    for (int e = 0; e < m_archive.entries.size(); ++e) {
        const FoundEntry &entry = m_archive.entries.at(e);
        const QByteArray target = entry.rawLinkTarget.isEmpty() && !entry.linkTarget.isEmpty()
            ? entry.linkTarget.toUtf8()
            : entry.rawLinkTarget;
        if (entry.type == FoundEntry::Hardlink)
            m_linkTargets.insert(target);
        if (entry.type != FoundEntry::Hardlink || !selected.contains(e)
            || chosenPaths.contains(target) || m_claims.contains(target))
            continue;
        m_claims.insert(target, { e, outputOf(entryPath(entry)) });
    }
}

bool ArchiveWalk::restoreEntry(archive_entry *entry, int index, bool selected)
{
    m_current = index;
    const QByteArray path = pathOf(entry);
    const uint type = uint(archive_entry_filetype(entry));
    if (archive_entry_hardlink(entry)
        || (type == AE_IFREG && (archive_entry_nlink(entry) > 1 || m_linkTargets.contains(path))))
        return restoreMember(entry, index, selected);
    const QByteArray name = nameFor(path, index, selected, type == AE_IFDIR);
    if (name.isEmpty())
        return true;
    QByteArray used;
    if (type == AE_IFREG && (m_zipModes.value(path) & S_IFMT) == S_IFLNK) {
        const QByteArray target = zipLinkTarget(path);
        if (target.isEmpty())
            return false;
        used = m_run.folder.symbolicLink(target, name, metadataFor(entry));
        if (used.isEmpty())
            return problem(m_run.folder.errorString());
        wrote(path, used);
        return true;
    }
    switch (type) {
    case AE_IFREG:
        if (isPackedMember(path))
            return writeUnpacked(entry, path, name);
        return !writeData(entry, name, false).isEmpty();
    case AE_IFDIR:
        return m_run.folder.makeFolder(name, metadataFor(entry))
            || problem(m_run.folder.errorString());
    case AE_IFLNK:
        used = m_run.folder.symbolicLink(
            QByteArray(archive_entry_symlink(entry)), name, metadataFor(entry));
        break;
    case AE_IFIFO:
    case AE_IFCHR:
    case AE_IFBLK:
        used = m_run.folder.special(
            name, type, quint64(archive_entry_rdev(entry)), metadataFor(entry));
        break;
    default:
        return problem(QStringLiteral("%1: a socket or other special file, not restored")
                           .arg(shownName(name)));
    }
    if (used.isEmpty())
        return problem(m_run.folder.errorString());
    wrote(path, used);
    if (m_linkTargets.contains(path)) { // tar links to symbolic links too
        m_rootOf.insert(path, path);
        m_groups[path].placed = used;
        m_groups[path].symbolic = type == AE_IFLNK;
    }
    return true;
}

QByteArray ArchiveWalk::nameFor(const QByteArray &path, int index, bool selected, bool folder)
{
    if (selected)
        return m_claimed.contains(index) ? QByteArray() : outputOf(path, folder);
    // Not chosen, but a chosen link to it takes its data or its kind.
    if (!m_claims.contains(path))
        return {};
    const Claim claim = m_claims.take(path);
    m_claimed.insert(claim.entry);
    return claim.name;
}

bool ArchiveWalk::restoreMember(archive_entry *entry, int index, bool selected)
{
    const QByteArray path = pathOf(entry);
    const char *link = archive_entry_hardlink(entry);
    const QByteArray root = link ? m_rootOf.value(QByteArray(link), QByteArray(link)) : path;
    const bool known = !link || m_rootOf.contains(root) || m_groups.contains(root);
    m_rootOf.insert(path, root);
    // A symbolic link made earlier under this name is not the file that starts here.
    if (!link && m_groups.value(root).symbolic)
        m_groups.remove(root);
    QByteArray name = nameFor(path, index, selected, false);
    if (!known) {
        // Its target lies in the part of the archive before the damage.
        const QByteArray before = m_run.placedBefore.value(root);
        if (name.isEmpty())
            return true;
        if (before.isEmpty())
            return problem(QStringLiteral("%1: not made: a hard link to %2, which is not "
                                          "among the files written from this tape")
                               .arg(shownName(name), shownName(root)));
        m_groups[root].placed = before;
    }
    const bool isNew = !m_groups.contains(root);
    Group &group = m_groups[root];
    if (isNew)
        group.metadata = metadataFor(entry);
    const bool wanted = !name.isEmpty() || !group.placed.isEmpty() || !group.waiting.isEmpty();
    // The link's target, which cpio newc stores as the data of the group's last name,
    // is already made: written into the link it would be followed.
    if (archive_entry_size(entry) > 0 && wanted && !group.symbolic) {
        if (!group.placed.isEmpty()) {
            if (writeData(entry, group.placed, true).isEmpty())
                return false;
        } else {
            const QByteArray target = name.isEmpty() ? group.waiting.takeFirst() : name;
            group.placed = writeData(entry, target, false);
            if (group.placed.isEmpty())
                return false;
            if (target == name)
                name.clear();
        }
    }
    if (!name.isEmpty())
        group.waiting.append(name);
    const bool whole = group.placed.isEmpty() || linkWaiting(group);
    if (group.waiting.isEmpty())
        m_waitingGroups.remove(root);
    else
        m_waitingGroups.insert(root);
    return whole;
}

bool ArchiveWalk::linkWaiting(Group &group)
{
    bool whole = true;
    for (const QByteArray &name : qAsConst(group.waiting)) {
        const QByteArray used = m_run.folder.hardLink(group.placed, name);
        if (used.isEmpty())
            whole = problem(m_run.folder.errorString());
        else
            m_run.written.append(shownName(used));
    }
    group.waiting.clear();
    return whole;
}

void ArchiveWalk::finishGroups(bool complete)
{
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
        Group &group = it.value();
        if (group.waiting.isEmpty() || !group.placed.isEmpty())
            continue;
        if (!complete) {
            for (const QByteArray &name : qAsConst(group.waiting))
                problem(QStringLiteral("%1: not written, its data was to come with a later "
                                       "name of the same file, which was not read")
                            .arg(shownName(name)));
            continue;
        }
        // The archive ended without data for them: they are empty files.
        RestoreFile file = m_run.folder.create(group.waiting.first(), group.metadata.mode);
        group.placed = file.isOpen() ? m_run.folder.place(file, group.metadata) : QByteArray();
        if (group.placed.isEmpty()) {
            problem(m_run.folder.errorString());
            continue;
        }
        m_run.written.append(shownName(group.placed));
        group.waiting.removeFirst();
        linkWaiting(group);
    }
}

QByteArray ArchiveWalk::zipLinkTarget(const QByteArray &path)
{
    constexpr int longest = 4095;
    QByteArray target;
    char piece[4096];
    la_ssize_t got = 0;
    while (target.size() <= longest && (got = archive_read_data(m_reader, piece, sizeof piece)) > 0)
        target.append(piece, int(got));
    if (got == 0 && !target.isEmpty() && target.size() <= longest && !target.contains('\0'))
        return target;
    problem(QStringLiteral("%1: a symbolic link whose target could not be read: not made")
                .arg(shownName(outputOf(path))));
    return {};
}

QByteArray ArchiveWalk::writeData(archive_entry *entry, const QByteArray &name, bool rewrite)
{
    const EntryMetadata metadata = metadataFor(entry);
    RestoreFile file
        = rewrite ? m_run.folder.reopen(name) : m_run.folder.create(name, metadata.mode);
    if (!file.isOpen()) {
        problem(m_run.folder.errorString());
        return {};
    }
    int status = ARCHIVE_OK;
    Copied copied;
    if (!copyData(file, name, &status, &copied))
        return {}; // dropped: nothing half-written keeps the name
    const qint64 size = archive_entry_size(entry);
    const bool cut = status != ARCHIVE_EOF;
    // The scan found it damaged: whole in length, but with bytes that are not known good.
    const FoundEntry found = m_archive.entries.value(m_current);
    const bool doubted = !cut && found.damaged;
    // A sparse file may end in a hole; a link that only repeats the name brings no data.
    if (!cut && copied.end < size && (copied.bytes > 0 || !rewrite) && !file.setLength(size)) {
        problem(QStringLiteral("%1: %2").arg(shownName(name), file.errorString()));
        return {};
    }
    QByteArray used;
    if (rewrite)
        used = m_run.folder.finish(file, metadata) ? name : QByteArray();
    else // what is cut short keeps what was read, under a name that says so
        used = m_run.folder.place(
            file, metadata, cut || doubted ? QByteArray(".damaged") : QByteArray());
    if (used.isEmpty()) {
        problem(m_run.folder.errorString());
        return {};
    }
    if (cut || doubted) {
        problem(cut ? QStringLiteral("%1: damaged, only the first %2 bytes were written, as %3")
                          .arg(shownName(name))
                          .arg(copied.bytes)
                          .arg(shownName(used))
                    : QStringLiteral("%1: %2; written as %3")
                          .arg(shownName(name), entryDamageNote(m_result.facts, found),
                              shownName(used)));
        if (!rewrite)
            m_run.written.append(shownName(used));
        return {};
    }
    if (!rewrite)
        wrote(pathOf(entry), used);
    return used;
}

bool ArchiveWalk::mayWrite(qint64 size, const QByteArray &name)
{
    const QString over = countWrite(m_run, m_index, m_written, m_limit, size, name);
    if (over.isEmpty())
        return true;
    m_stopped = true;
    return problem(over);
}

bool ArchiveWalk::writeUnpacked(
    archive_entry *entry, const QByteArray &path, const QByteArray &name)
{
    const EntryMetadata metadata = metadataFor(entry);
    const QByteArray plainName = name.left(name.size() - 2);
    RestoreFile packed = m_run.folder.create(name, metadata.mode);
    RestoreFile plain
        = packed.isOpen() ? m_run.folder.create(plainName, metadata.mode) : RestoreFile();
    if (!plain.isOpen())
        return problem(m_run.folder.errorString());
    z_stream z {};
    bool inflating = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK;
    bool gzip = false; ///< the data starts as gzip does
    bool unpacked = false; ///< every byte read so far belongs to whole gzip members
    QString why;
    qint64 plainLength = 0;
    qint64 packedLength = 0;
    unsigned char out[65536];
    const void *block;
    size_t size;
    la_int64_t offset;
    int status;
    while ((status = archive_read_data_block(m_reader, &block, &size, &offset)) == ARCHIVE_OK) {
        if (m_run.cancelled()) {
            m_stopped = true;
            inflateEnd(&z);
            return false;
        }
        if (!mayWrite(qint64(size), name)) {
            inflateEnd(&z);
            return false;
        }
        if (!packed.write(block, qint64(size), offset)) {
            inflateEnd(&z);
            return problem(QStringLiteral("%1: %2").arg(shownName(name), packed.errorString()));
        }
        const auto *bytes = static_cast<const unsigned char *>(block);
        if (packedLength == 0 && offset == 0)
            gzip = size >= 3 && bytes[0] == 0x1f && bytes[1] == 0x8b && bytes[2] == 8;
        // A hole or a gap in the stored data is no gzip stream.
        inflating = inflating && gzip && offset == packedLength;
        packedLength = qint64(offset) + qint64(size);
        z.next_in = const_cast<unsigned char *>(bytes);
        z.avail_in = uInt(size);
        while (inflating && z.avail_in > 0) {
            if (unpacked) { // a further member must follow at once
                if (z.avail_in < 2 || z.next_in[0] != 0x1f || z.next_in[1] != 0x8b) {
                    why = QStringLiteral("other data after the compressed data");
                    inflating = false;
                    break;
                }
                unpacked = false;
                inflateReset(&z);
            }
            z.next_out = out;
            z.avail_out = sizeof out;
            const int result = inflate(&z, Z_NO_FLUSH);
            const qint64 made = qint64(sizeof out - z.avail_out);
            if (made > 0 && (!mayWrite(made, plainName) || !plain.write(out, made, plainLength))) {
                inflateEnd(&z);
                return plain.errorString().isEmpty()
                    ? false
                    : problem(
                        QStringLiteral("%1: %2").arg(shownName(plainName), plain.errorString()));
            }
            plainLength += made;
            if (result == Z_STREAM_END) {
                unpacked = true;
            } else if (result != Z_OK && !(result == Z_BUF_ERROR && made > 0)) {
                why = QString::fromUtf8(z.msg ? z.msg : "damaged compressed data");
                inflating = false;
            }
        }
    }
    inflateEnd(&z);
    if (status != ARCHIVE_EOF) { // the member itself is cut: what was read, as stored
        const QByteArray used = m_run.folder.place(packed, metadata, QByteArray(".damaged"));
        if (used.isEmpty())
            return problem(m_run.folder.errorString());
        m_run.written.append(shownName(used));
        return problem(QStringLiteral("%1: damaged, only the first %2 bytes were written, as %3")
                           .arg(shownName(name))
                           .arg(packedLength)
                           .arg(shownName(used)));
    }
    if (gzip && inflating && unpacked) {
        const QByteArray used = m_run.folder.place(plain, metadata);
        if (used.isEmpty())
            return problem(m_run.folder.errorString());
        wrote(path, used);
        return true;
    }
    if (!gzip) { // a file of its own named .z: as it is
        const QByteArray used = m_run.folder.place(packed, metadata);
        if (used.isEmpty())
            return problem(m_run.folder.errorString());
        wrote(path, used);
        return true;
    }
    if (why.isEmpty())
        why = QStringLiteral("the compressed data breaks off");
    const QByteArray used = m_run.folder.place(packed, metadata, QByteArray(".damaged"));
    if (used.isEmpty())
        return problem(m_run.folder.errorString());
    m_run.written.append(shownName(used));
    return problem(QStringLiteral("%1: could not be decompressed (%2): kept as stored, as %3")
                       .arg(shownName(plainName), why, shownName(used)));
}

bool ArchiveWalk::copyData(RestoreFile &file, const QByteArray &name, int *status, Copied *copied)
{
    const void *block;
    size_t size;
    la_int64_t offset;
    while ((*status = archive_read_data_block(m_reader, &block, &size, &offset)) == ARCHIVE_OK) {
        if (m_run.cancelled()) {
            m_stopped = true;
            return false;
        }
        if (!mayWrite(qint64(size), name))
            return false;
        if (!file.write(block, qint64(size), offset))
            return problem(QStringLiteral("%1: %2").arg(shownName(name), file.errorString()));
        copied->bytes += qint64(size);
        copied->end = std::max(copied->end, qint64(offset) + qint64(size));
        m_run.advance(qint64(size), name);
    }
    return true;
}

} // namespace

QString countWrite(
    RestoreRun &run, int index, qint64 &written, qint64 limit, qint64 size, const QByteArray &name)
{
    if (run.totalWritten + size > run.totalLimit) {
        run.overTotal = true;
        return QStringLiteral("The extraction writes more than the %1 it may write in all: "
                              "stopped at %2, which was not kept, and nothing after it was "
                              "written (raise the limit with --max-size)")
            .arg(SizeText::human(run.totalLimit), shownName(name));
    }
    if (written + size > limit) {
        return QStringLiteral("Archive %1 writes more than the %2 one archive may write: "
                              "stopped at %3, which was not kept (raise the limit with "
                              "--max-size)")
            .arg(index + 1)
            .arg(SizeText::human(limit), shownName(name));
    }
    written += size;
    run.totalWritten += size;
    return QString();
}

bool restoreArchive(const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run)
{
    if (isDumpArchive(result.archives.at(index)))
        return restoreDumpArchive(result, index, entries, run);
    if (result.archives.at(index).format == QLatin1String(mtfSetFormat))
        return restoreMtfSet(result, index, entries, run);
    ScanResult joined;
    return ArchiveWalk(joinedView(result, index, &joined), index, run).run(entries);
}

} // namespace Quorlin
