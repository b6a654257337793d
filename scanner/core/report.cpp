#include "scanner/core/report.h"

#include "archive/image_verdict.h"
#include "imaging/size_text.h"
#include "scanner/core/extractor.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/shown_name.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

namespace Quorlin {

namespace {

/// " of volume N" for bytes in a further image of a set (N from 2), else nothing.
QString volumeOf(const ImageFacts &facts, qint64 streamOffset)
{
    const int volume = facts.layout ? facts.layout->volumeAt(streamOffset) : 0;
    return volume > 0 ? QStringLiteral(" of volume %1").arg(volume + 1) : QString();
}

} // namespace

QVector<QPair<QString, QString>> factLines(const ImageFacts &facts)
{
    QVector<QPair<QString, QString>> lines;
    lines.append({ QStringLiteral("Image"), shownName(facts.path) });
    // Further volumes of the set, read after it; the facts below are the first image's,
    // the size all of theirs.
    for (int v = 0; v < facts.volumePaths.size(); ++v)
        lines.append(
            { QStringLiteral("Volume %1").arg(v + 2), shownName(facts.volumePaths.at(v)) });
    lines.append({ QStringLiteral("Size"),
        QStringLiteral("%1 (%2 bytes)").arg(SizeText::human(facts.fileSize)).arg(facts.fileSize) });
    if (facts.tapFile) {
        lines.append({ QStringLiteral("Tape file"),
            QStringLiteral("SIMH .tap: %1 tape file(s), %2 record(s) %3, %4 unreadable")
                .arg(facts.tapeFiles)
                .arg(facts.recordCount)
                .arg(facts.recordStep > 0
                        ? QStringLiteral("of %1 bytes").arg(facts.recordStep)
                        : QStringLiteral("of up to %1 bytes").arg(facts.blockSize))
                .arg(facts.unreadableRecords) });
    } else if (facts.hasTrailer) {
        lines.append({ QStringLiteral("Trailer"),
            QStringLiteral("present (T = %1, S = %2)")
                .arg(facts.tapeBlockLength)
                .arg(facts.blockSize) });
        lines.append(
            { QStringLiteral("Block size"), QStringLiteral("%1 bytes").arg(facts.blockSize) });
        lines.append({ QStringLiteral("Records"),
            facts.bodyDividesEvenly
                ? QString::number(facts.recordCount)
                : QStringLiteral("of different lengths (the body is not a whole number of "
                                 "S-byte records)") });
    } else {
        lines.append({ QStringLiteral("Trailer"), QStringLiteral("none: image without trailer") });
    }
    if (!facts.hasTrailer && !facts.tapFile
        && facts.path.endsWith(QLatin1String(".bkf"), Qt::CaseInsensitive)) {
        // Written by a backup program straight to disk: no run made it, none can judge it.
        lines.append({ QStringLiteral("Complete"),
            QStringLiteral("not judged: a Windows backup file (.bkf), no tape image; it is read "
                           "as it stands") });
        return lines;
    }
    // Whether the image holds the whole tape: the imager's own rules, so the two never disagree.
    const ImageVerdict::Judgement verdict = ImageVerdict::judge(QFile::encodeName(facts.path));
    lines.append({ QStringLiteral("Complete"),
        ImageVerdict::completeWord(verdict.verdict) + QStringLiteral(": ") + verdict.summary });
    if (!facts.trailerNote.isEmpty())
        lines.append({ QStringLiteral("Note"), facts.trailerNote });
    return lines;
}

bool hasDamage(const ScanResult &result)
{
    if (result.facts.unreadableRecords > 0)
        return true;
    for (const FoundArchive &archive : result.archives) {
        if (archive.damaged)
            return true;
    }
    for (const RawRegion &region : result.rawRegions) {
        if (region.name.endsWith(QLatin1String(".damaged"))) // a labelled file in part
            return true;
    }
    return false;
}

QString summary(const ScanResult &result)
{
    int files = 0;
    int damaged = 0;
    for (const FoundArchive &archive : result.archives) {
        damaged += archive.damaged ? 1 : 0;
        for (const FoundEntry &entry : archive.entries)
            files += entry.type == FoundEntry::Directory ? 0 : 1;
    }
    qint64 raw = 0;
    for (const RawRegion &region : result.rawRegions)
        raw += region.length;
    QString text
        = QStringLiteral("%1 archive(s) holding %2 file(s)").arg(result.archives.size()).arg(files);
    if (damaged > 0)
        text += QStringLiteral(", %1 of them damaged").arg(damaged);
    text += result.rawRegions.isEmpty()
        ? QStringLiteral("; no unrecognised data.")
        : QStringLiteral("; %1 of data in %2 raw region(s) that are not archives.")
              .arg(SizeText::human(raw))
              .arg(result.rawRegions.size());
    return text;
}

QString archiveNote(const ScanResult &result, int index)
{
    const FoundArchive &archive = result.archives.at(index);
    QStringList notes;
    if (archive.continuation && index > 0)
        notes.append(QStringLiteral("the rest of archive %1, after its damage").arg(index));
    // A joined archive's offsets are in the stream its parts make.
    const auto imageOffset = [&](qint64 at) {
        return archive.joinedLayout ? layoutImageOffset(*archive.joinedLayout, at)
                                    : result.facts.imageOffset(at);
    };
    if (archive.damaged && archive.damageInside >= 0)
        notes.append(QStringLiteral("damaged at offset %1").arg(imageOffset(archive.damageInside)));
    else if (archive.damaged)
        notes.append(QStringLiteral("damaged from offset %1 on")
                         .arg(imageOffset(archive.offset + archive.length)));
    return notes.join(QStringLiteral("; "));
}

QString rawRegionNote(const ScanResult &result, int index)
{
    const RawRegion &region = result.rawRegions.at(index);
    QStringList notes;
    if (region.kind == QLatin1String("amanda"))
        notes.append(QStringLiteral("an Amanda tape file header"));
    else if (region.kind == QLatin1String("label"))
        notes.append(QStringLiteral("tape labels"));
    else if (!region.name.isEmpty())
        notes.append(QStringLiteral("the labelled file \"%1\"").arg(region.name));
    else if (!region.kind.isEmpty())
        notes.append(QStringLiteral("a %1 volume").arg(region.kind));
    else if (region.partOf >= 0)
        notes.append(QStringLiteral("the unreadable part of archive %1").arg(region.partOf + 1));
    else
        notes.append(QStringLiteral("data that is not an archive"));
    if (!region.label.isEmpty())
        notes.append(region.label);
    return notes.join(QStringLiteral(": "));
}

QString expansionNote(const FoundArchive &archive, qint64 maxSize)
{
    const qint64 expanded = expandedSize(archive);
    QString text = QStringLiteral("expands to %1").arg(SizeText::human(expanded));
    if (!archive.filter.isEmpty() && archive.length > 0) {
        const double ratio = double(expanded) / double(archive.length);
        text += QStringLiteral(", %1 times its size").arg(ratio, 0, 'f', ratio < 10 ? 1 : 0);
    }
    if (expanded > sizeLimit(archive, maxSize))
        text += QStringLiteral(", more than the %1 one archive may write")
                    .arg(SizeText::human(sizeLimit(archive, maxSize)));
    return text;
}

QString entryDamageNote(const ImageFacts &facts, const FoundEntry &entry)
{
    if (!entry.damaged)
        return entry.note;
    if (!entry.note.isEmpty())
        return QStringLiteral("damaged: ") + entry.note;
    if (entry.checkFailed)
        return QStringLiteral("damaged: whole in length, but the compressed stream it is in "
                              "fails its check, so its bytes may be wrong");
    if (entry.unreadableAt < 0)
        return QStringLiteral("damaged: only its first part can be written");
    if (entry.unreadableByte < 0)
        return QStringLiteral("damaged: whole in length, but may hold bytes decoded from "
                              "unreadable data (image offset %1)")
            .arg(facts.imageOffset(entry.unreadableAt));
    return QStringLiteral("damaged: whole in length, but holds unreadable bytes, the first at "
                          "byte %1 of it (image offset %2)")
        .arg(entry.unreadableByte)
        .arg(facts.imageOffset(entry.unreadableAt));
}

QString linkTargetName(const FoundEntry &entry)
{
    return shownName(
        entry.rawLinkTarget.isEmpty() ? entry.linkTarget.toUtf8() : entry.rawLinkTarget);
}

qint64 contentSize(const FoundArchive &archive, const FoundEntry &entry)
{
    return entry.dataEntry >= 0 ? archive.entries.value(entry.dataEntry).size : entry.size;
}

QString entryTypeLetter(const FoundEntry &entry)
{
    switch (entry.type) {
    case FoundEntry::Directory:
        return QStringLiteral("d");
    case FoundEntry::Symlink:
        return QStringLiteral("l");
    case FoundEntry::Hardlink:
        return QStringLiteral("h");
    case FoundEntry::Other:
        return QStringLiteral("o");
    case FoundEntry::File:
        break;
    }
    return QStringLiteral("-");
}

QString listing(const ScanResult &result, qint64 maxSize)
{
    QString text;
    QTextStream out(&text);
    for (const auto &line : factLines(result.facts))
        out << line.first << ": " << line.second << '\n';
    if (!result.error.isEmpty())
        out << "Error: " << result.error << '\n';
    for (int a = 0; a < result.archives.size(); ++a) {
        const FoundArchive &archive = result.archives[a];
        out << "\nArchive " << a + 1 << " at offset " << result.facts.imageOffset(archive.offset)
            << volumeOf(result.facts, archive.offset) << ", " << archive.length
            << " bytes: " << archive.format;
        if (!archive.filter.isEmpty())
            out << ", " << archive.filter << " compressed";
        if (archive.continuation)
            out << ", continues after damage";
        out << '\n';
        out << "  " << archive.entries.size() << " entries; " << expansionNote(archive, maxSize)
            << '\n';
        if (!archive.note.isEmpty())
            out << "  Note: " << shownName(archive.note) << '\n';
        for (const FoundEntry &entry : archive.entries) {
            out << "  " << entryTypeLetter(entry) << ' ' << qSetFieldWidth(12)
                << contentSize(archive, entry) << qSetFieldWidth(0) << ' '
                << QDateTime::fromSecsSinceEpoch(entry.mtime, Qt::UTC)
                       .toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                << ' ' << entryOutputName(a, entry);
            if (!entry.linkTarget.isEmpty() || !entry.rawLinkTarget.isEmpty())
                out << " -> " << linkTargetName(entry);
            if (entry.damaged || !entry.note.isEmpty())
                out << "  [" << entryDamageNote(result.facts, entry) << ']';
            out << '\n';
        }
    }
    for (int r = 0; r < result.rawRegions.size(); ++r) {
        const RawRegion &region = result.rawRegions[r];
        out << "\nRaw region at offset " << result.facts.imageOffset(region.offset)
            << volumeOf(result.facts, region.offset) << ", " << region.length
            << " bytes: " << rawRegionOutputName(result.facts, region) << " ("
            << rawRegionNote(result, r) << ")\n";
    }
    out << "\nFound " << summary(result) << '\n'
        << result.zeroBytes << " bytes of zero records (tape marks, padding).\n";
    if (result.cancelled)
        out << "The scan was cancelled before the end of the image.\n";
    return text;
}

} // namespace Quorlin
