#include "scanner/core/tar_volumes.h"

#include "imaging/size_text.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/dump_restore.h"
#include "scanner/core/extractor.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/shown_name.h"

namespace Quorlin {
namespace {

constexpr qint64 block = 512;

/// One tar header block, checked and taken apart.
struct TarHeader
{
    bool valid = false;
    char type = 0;
    QByteArray name;
    qint64 size = 0;
    qint64 offset = 0; ///< a continuation's place in its member
    uint mode = 0;
    qint64 uid = 0;
    qint64 gid = 0;
    qint64 mtime = 0;
};

qint64 octal(const char *field, int length)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(field);
    if (bytes[0] & 0x80) { // base 256
        qint64 value = bytes[0] & 0x3f;
        for (int i = 1; i < length && value < (qint64(1) << 54); ++i)
            value = value << 8 | bytes[i];
        return value;
    }
    qint64 value = 0;
    for (int i = 0; i < length && value < (qint64(1) << 60); ++i) {
        if (field[i] >= '0' && field[i] <= '7')
            value = value * 8 + (field[i] - '0');
        else if (field[i] != ' ' || value != 0)
            break;
    }
    return value;
}

TarHeader readHeader(BodyStream &stream, qint64 at)
{
    TarHeader header;
    char bytes[block];
    if (at < 0 || stream.readAt(at, bytes, block) != block)
        return header;
    qint64 sum = 0;
    for (int i = 0; i < block; ++i)
        sum += i >= 148 && i < 156 ? ' ' : static_cast<unsigned char>(bytes[i]);
    if (sum == 8 * ' ' || octal(bytes + 148, 8) != sum)
        return header;
    header.valid = true;
    header.type = bytes[156];
    header.name = QByteArray(bytes, int(qstrnlen(bytes, 100)));
    header.size = octal(bytes + 124, 12);
    header.offset = octal(bytes + 369, 12);
    header.mode = uint(octal(bytes + 100, 8)) & 07777;
    header.uid = octal(bytes + 108, 8);
    header.gid = octal(bytes + 116, 8);
    header.mtime = octal(bytes + 136, 12);
    return header;
}

qint64 rounded(qint64 size)
{
    return (size + block - 1) / block * block;
}

/// The header at @p at, a long name before it taken in; @p next gets where its data starts.
TarHeader memberAt(BodyStream &stream, qint64 at, qint64 *dataAt)
{
    TarHeader header = readHeader(stream, at);
    if (header.valid && header.type == 'V') { // a volume's label comes first
        at += block + rounded(header.size);
        header = readHeader(stream, at);
    }
    if (header.valid && header.type == 'L' && header.size > 0 && header.size <= 65536) {
        QByteArray name(int(header.size), '\0');
        if (stream.readAt(at + block, name.data(), header.size) != header.size)
            return {};
        at += block + rounded(header.size);
        header = readHeader(stream, at);
        header.name
            = QByteArray(name.constData(), int(qstrnlen(name.constData(), uint(name.size()))));
    }
    *dataAt = at + block;
    return header;
}

/// Where the data of the last member of @p archive, before @p end, starts when it is
/// named @p path; -1 when not. The tape mark's zeros may follow its first part, or the
/// next volume's header: the walk stops at the first block that is no header.
qint64 cutMemberData(BodyStream &stream, const FoundArchive &archive, const QByteArray &path,
    qint64 end, TarHeader *found)
{
    qint64 lastData = -1;
    for (qint64 at = archive.offset; at + block <= end;) {
        qint64 dataAt = 0;
        const TarHeader header = memberAt(stream, at, &dataAt);
        if (!header.valid)
            break;
        *found = header;
        lastData = dataAt;
        const qint64 stored
            = header.type == '5' || header.type == '1' || header.type == '2' ? 0 : header.size;
        at = dataAt + rounded(stored);
    }
    return lastData >= 0 && found->name == path ? lastData : -1;
}

/// Whether the tar volume at @p next may follow the one at @p before: when either
/// carries a volume label (tar -V), both do, written by the same run (the label's
/// time) under the same name, and the next one's number follows.
bool labelsFollow(BodyStream &stream, qint64 before, qint64 next)
{
    const TarHeader first = readHeader(stream, before);
    const TarHeader second = readHeader(stream, next);
    const bool firstLabelled = first.valid && first.type == 'V';
    const bool secondLabelled = second.valid && second.type == 'V';
    if (!firstLabelled && !secondLabelled)
        return true;
    if (firstLabelled != secondLabelled || first.mtime != second.mtime)
        return false;
    static const QByteArray volumeWord = " Volume ";
    const int firstAt = first.name.lastIndexOf(volumeWord);
    const int secondAt = second.name.lastIndexOf(volumeWord);
    if (firstAt < 0 || secondAt < 0)
        return first.name == second.name;
    return first.name.left(firstAt) == second.name.left(secondAt)
        && first.name.mid(firstAt + volumeWord.size()).toLongLong() + 1
        == second.name.mid(secondAt + volumeWord.size()).toLongLong();
}

/// Why the continuation @p header does not go on from the member the volume before (at
/// @p before, its cut member @p first with its data at @p firstAt, or -1) ends inside.
QString whyApart(BodyStream &stream, const FoundArchive *before, qint64 archiveAt,
    const TarHeader &header, qint64 firstAt, const TarHeader &first, qint64 end)
{
    if (!before)
        return QStringLiteral("no volume comes before it: the one before is missing or given "
                              "after it");
    if (firstAt < 0 || first.name != header.name)
        return QStringLiteral("the volume before it does not end inside this member: a volume "
                              "is missing, out of order or of another set");
    if (!labelsFollow(stream, before->offset, archiveAt))
        return QStringLiteral("its volume label does not follow the label of the volume "
                              "before: a volume of another set, or out of order");
    if (header.offset + header.size != first.size)
        return QStringLiteral("what it says is left of the member does not fit the member's "
                              "size: a volume of another set");
    return QStringLiteral("it goes on at byte %1, the volume before ends the member at byte "
                          "%2: a volume is missing or out of order")
        .arg(header.offset)
        .arg(std::max<qint64>(0, end - firstAt));
}

qint64 tapeFileEnd(const ScanResult &result, qint64 at)
{
    return result.facts.layout ? result.facts.layout->tapeFileEnd(at) : result.facts.streamLength;
}

/// Why joining the volume at @p next to the one at @p before (labels already found to
/// follow) is not confirmed: an unlabelled volume from another image. Its continuation
/// header carries the member's name, offset and size left, and nothing else (no mode,
/// owner or time), so a volume of another run over the same names and sizes has the same
/// header byte for byte. Within one image the next tape file was written after the cut one
/// on the same cartridge; another image is the operator's choice, where runs get mixed up.
QString unconfirmedJoin(
    const ScanResult &result, BodyStream &stream, qint64 before, qint64 next, qint64 memberOffset)
{
    const RecordLayout *layout = result.facts.layout.get();
    if (!layout || layout->volumeAt(before) == layout->volumeAt(next))
        return {};
    const TarHeader label = readHeader(stream, next);
    if (label.valid && label.type == 'V')
        return {};
    return QStringLiteral("its bytes from %1 on come from image %2, joined on the member's "
                          "name, offset and size alone: volumes without a label (tar -V) carry "
                          "nothing more, so a volume of another run over the same names and "
                          "sizes would join the same way, with wrong bytes")
        .arg(memberOffset)
        .arg(layout->volumeAt(next) + 1);
}

} // namespace

void joinTarVolumes(ScanResult *result, BodyStream &stream)
{
    QVector<SplitMember> members;
    int open = -1; ///< the member that waits for its next part in the next archive
    for (int b = 0; b < result->archives.size(); ++b) {
        const FoundArchive &archive = result->archives.at(b);
        const bool tar = !isDumpArchive(archive) && archive.filter.isEmpty()
            && archive.format.contains(QLatin1String("tar"), Qt::CaseInsensitive);
        qint64 dataAt = 0;
        const TarHeader header = tar ? memberAt(stream, archive.offset, &dataAt) : TarHeader();
        if (!header.valid || header.type != 'M' || archive.entries.isEmpty()) {
            open = -1;
            continue;
        }
        SplitMember *member = nullptr;
        // A continuation names its member, where in it it goes on and what is left of it:
        // all three must fit what the volume before left off, or it is not that member's.
        const auto goesOn = [&](const SplitMember &m) {
            const SplitMember::Part &last = m.parts.last();
            const int lastArchive
                = m.continuations.isEmpty() ? m.archive : m.continuations.last().first;
            return m.path == header.name && header.offset == last.offset + last.length
                && header.offset + header.size == m.size
                && labelsFollow(stream, result->archives.at(lastArchive).offset, archive.offset);
        };
        if (open >= 0 && goesOn(members[open])) {
            member = &members[open];
            const SplitMember::Part &last = member->parts.last();
            if (member->doubt.isEmpty())
                member->doubt
                    = unconfirmedJoin(*result, stream, last.at, archive.offset, header.offset);
        } else {
            // Its first part: the last member of the archive before, cut by its tape file's end.
            const FoundArchive *before = b > 0 ? &result->archives.at(b - 1) : nullptr;
            TarHeader first;
            // Its volume ends where its tape file does, before this one starts.
            const qint64 end
                = before ? std::min(tapeFileEnd(*result, before->offset), archive.offset) : 0;
            const qint64 firstAt
                = before && !before->entries.isEmpty() && before->entries.last().damaged
                ? cutMemberData(stream, *before, header.name, end, &first)
                : -1;
            SplitMember made;
            made.path = header.name;
            if (firstAt >= 0 && header.offset > 0 && header.offset < first.size
                && header.offset + header.size == first.size && firstAt + header.offset <= end
                && labelsFollow(stream, before->offset, archive.offset)) {
                made.archive = b - 1;
                made.entry = before->entries.size() - 1;
                made.size = first.size;
                made.parts.append({ firstAt, 0, header.offset });
                made.mode = first.mode;
                made.mtime = first.mtime;
                made.uid = first.uid;
                made.gid = first.gid;
                made.doubt
                    = unconfirmedJoin(*result, stream, firstAt, archive.offset, header.offset);
            } else {
                made.apart = whyApart(stream, before, archive.offset, header, firstAt, first, end);
                made.archive = b;
                made.entry = 0;
                made.size = header.offset + header.size;
                made.mode = header.mode ? header.mode : 0644; // a continuation has none
                made.mtime = header.mtime;
                made.uid = header.uid;
                made.gid = header.gid;
            }
            members.append(made);
            member = &members.last();
        }
        const qint64 length
            = std::max<qint64>(0, std::min(header.size, tapeFileEnd(*result, dataAt) - dataAt));
        member->parts.append({ dataAt, header.offset, length });
        member->continuations.append({ b, 0 });
        open = header.offset + length < member->size ? int(members.size() - 1) : -1;
    }
    for (SplitMember &member : members) {
        // What of the member the parts cover, from its start.
        qint64 covered = 0;
        QStringList gaps;
        for (const SplitMember::Part &part : qAsConst(member.parts)) {
            if (part.offset > covered)
                gaps.append(QStringLiteral("bytes %1 to %2").arg(covered).arg(part.offset - 1));
            covered = std::max(covered, part.offset + part.length);
        }
        if (covered < member.size)
            gaps.append(QStringLiteral("bytes %1 to %2").arg(covered).arg(member.size - 1));
        const bool images = result->facts.layout && result->facts.layout->volumeCount() > 1;
        if (!gaps.isEmpty())
            member.missing = images
                ? QStringLiteral("split over tape volumes, and %1 are on no volume given "
                                 "before it (%2)")
                      .arg(gaps.join(QStringLiteral(", ")),
                          member.apart.isEmpty() ? QStringLiteral("a volume is missing")
                                                 : member.apart)
                : QStringLiteral("split over tape volumes, and %1 lie on a volume that is not "
                                 "in this image")
                      .arg(gaps.join(QStringLiteral(", ")));
        FoundArchive &first = result->archives[member.archive];
        FoundEntry &entry = first.entries[member.entry];
        entry.damaged = !member.missing.isEmpty() || !member.doubt.isEmpty();
        if (member.missing.isEmpty() && !member.doubt.isEmpty())
            entry.note = member.doubt;
        // A cut that the next volume makes good is no damage.
        if (!entry.damaged && member.archive + 1 == member.continuations.first().first
            && first.damageInside < 0) {
            first.damaged = false;
            first.note = QStringLiteral("its last member, %1, goes on in the next tape file "
                                        "(a multi-volume tar): joined")
                             .arg(shownName(member.path));
        }
    }
    for (const SplitMember &member : qAsConst(members)) {
        for (int c = 0; c < member.continuations.size(); ++c) {
            const auto &piece = member.continuations.at(c);
            FoundArchive &archive = result->archives[piece.first];
            // Hard links in it may name files of the volumes before.
            archive.volumeJoined = c > 0 || piece.first == member.archive + 1;
            archive.note = QStringLiteral("starts with the rest of %1 from the tape file before "
                                          "(a multi-volume tar)%2")
                               .arg(shownName(member.path),
                                   !member.missing.isEmpty() ? QStringLiteral("; ") + member.missing
                                       : member.doubt.isEmpty()
                                       ? QStringLiteral(", joined")
                                       : QStringLiteral(", written as damaged: ") + member.doubt)
                + (archive.note.isEmpty() ? QString() : QStringLiteral("; ") + archive.note);
        }
    }
    result->splitMembers = members;
}

bool restoreSplitMember(const ScanResult &result, const SplitMember &member, RestoreRun &run)
{
    const QByteArray name = entryOutputPath(member.archive, member.path);
    BodyStream stream(result.facts);
    if (!stream.open()) {
        run.problems.append(QStringLiteral("%1: %2").arg(shownName(name), stream.errorString()));
        return false;
    }
    EntryMetadata metadata;
    metadata.mode = member.mode;
    metadata.hasMtime = true;
    metadata.mtime = member.mtime;
    metadata.uid = member.uid;
    metadata.gid = member.gid;
    RestoreFile file = run.folder.create(name, metadata.mode);
    if (!file.isOpen()) {
        run.problems.append(run.folder.errorString());
        return false;
    }
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (const SplitMember::Part &part : member.parts) {
        for (qint64 done = 0; done < part.length;) {
            if (run.cancelled())
                return false;
            const qint64 piece = std::min<qint64>(buffer.size(), part.length - done);
            if (run.totalWritten + piece > run.totalLimit) {
                run.overTotal = true;
                run.problems.append(QStringLiteral("The extraction writes more than the %1 it "
                                                   "may write in all: stopped at %2, which was "
                                                   "not kept (raise the limit with --max-size)")
                                        .arg(SizeText::human(run.totalLimit), shownName(name)));
                return false;
            }
            if (stream.readAt(part.at + done, buffer.data(), piece) != piece
                || !file.write(buffer.constData(), piece, part.offset + done)) {
                run.problems.append(QStringLiteral("%1: %2").arg(shownName(name),
                    file.errorString().isEmpty() ? stream.errorString() : file.errorString()));
                return false;
            }
            run.totalWritten += piece;
            run.advance(piece, name);
            done += piece;
        }
    }
    if (!file.setLength(member.size)) {
        run.problems.append(QStringLiteral("%1: %2").arg(shownName(name), file.errorString()));
        return false;
    }
    const bool whole = member.missing.isEmpty() && member.doubt.isEmpty();
    const QByteArray used
        = run.folder.place(file, metadata, whole ? QByteArray() : QByteArray(".damaged"));
    if (used.isEmpty()) {
        run.problems.append(run.folder.errorString());
        return false;
    }
    run.written.append(shownName(used));
    if (whole) {
        run.placedBefore.insert(member.path, used); // hard links in later volumes name it
        return true;
    }
    run.problems.append(
        (member.missing.isEmpty() ? QStringLiteral("%1: %2; written as %3")
                                  : QStringLiteral("%1: %2 (zeros there); written as %3"))
            .arg(shownName(name), member.missing.isEmpty() ? member.doubt : member.missing,
                shownName(used)));
    return false;
}

} // namespace Quorlin
