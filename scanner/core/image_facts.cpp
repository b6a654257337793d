#include "scanner/core/image_facts.h"

#include "archive/run_record.h"
#include "imaging/image_file.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/tap_image.h"

#include <QFile>

#include <algorithm>

namespace Quorlin {
namespace {
constexpr quint64 largestBlockSize = 524289;
// Shorter records are noise to a tape drive; a trailer naming one is not a trailer.
constexpr quint64 smallestBlockSize = 18;
// What a run at a numeric block size stores as T when its last read was empty.
constexpr quint64 emptyLastRead = 65536;

// A run writes T <= S, except that an empty last read of a numeric run is stored
// as 65536. Anything else only looks like a trailer: taking it for one would cut
// its bytes off the data and frame the body in records it does not have.
QString implausibleTrailer(const ImageFile::Trailer &trailer)
{
    if (trailer.bodyLength == 0 && trailer.blockSize == 0 && trailer.tapeBlockLength == 0)
        return QString(); // a run that read nothing
    if (trailer.blockSize < smallestBlockSize || trailer.blockSize > largestBlockSize)
        return QStringLiteral("S = %1 is no block size a tape has").arg(trailer.blockSize);
    if (trailer.tapeBlockLength > trailer.blockSize && trailer.tapeBlockLength != emptyLastRead)
        return QStringLiteral("T = %1 is larger than S = %2")
            .arg(trailer.tapeBlockLength)
            .arg(trailer.blockSize);
    return QString();
}

/// A record length as the image holds it: bounds, when the run record leaves it open.
struct Length
{
    qint64 low = 0;
    qint64 high = 0;
};

/// Where the blocks the run record names as not whole lie in the image. A run at a
/// numeric block size writes every block as one record of S bytes; an Auto run
/// writes each as long as it was read (an empty read as long as the first block),
/// and the record gives only how many of each length a tape file held, not their
/// order: there the span covers every place the block can be. @p marks gets where
/// the tape marks lie, where the record tells that exactly.
QVector<QPair<qint64, qint64>> damagedSpans(
    const RunRecord::Record &record, qint64 body, QVector<qint64> *marks)
{
    QVector<quint64> blocks;
    for (const RunRecord::Problem &problem : record.problems) {
        if (problem.kind == RunRecord::ProblemKind::Unreadable
            || problem.kind == RunRecord::ProblemKind::Cut)
            blocks.append(problem.block);
    }
    std::sort(blocks.begin(), blocks.end());
    QVector<QPair<qint64, qint64>> spans;
    const auto add = [&](qint64 from, qint64 to) {
        from = std::max<qint64>(0, from);
        to = std::min(to, body);
        if (from < to)
            spans.append({ from, to });
    };
    bool numeric = false;
    const qint64 fixed = record.blockSize.toLongLong(&numeric);
    if (record.files.isEmpty())
        return spans;
    if (numeric && fixed > 0) {
        for (const quint64 block : blocks)
            add(qint64(block - 1) * fixed, qint64(block) * fixed);
        qint64 objects = 0;
        for (int f = 0; f < record.files.size() && f < record.marksRead; ++f) {
            objects += record.files[f].records;
            marks->append(objects++ * fixed);
        }
        return spans;
    }
    Length first { emptyLastRead, emptyLastRead };
    const auto &firstLengths = record.files.first().lengths;
    if (record.files.first().records > 0 && !firstLengths.isEmpty() && firstLengths.lastKey() > 0) {
        first.low = firstLengths.firstKey() > 0 ? qint64(firstLengths.firstKey())
                                                : qint64(std::next(firstLengths.begin()).key());
        first.high = qint64(firstLengths.lastKey());
    }
    // The body is every record back to back: what the lengths named leave over is the
    // marks' (and empty reads') share, each as long as the first block.
    qint64 named = 0, empties = record.marksRead;
    for (const RunRecord::TapeFile &file : record.files) {
        for (auto it = file.lengths.cbegin(); it != file.lengths.cend(); ++it) {
            named += qint64(it.key()) * it.value();
            empties += it.key() == 0 ? it.value() : 0;
        }
    }
    if (empties > 0 && body > named && (body - named) % empties == 0
        && (body - named) / empties >= first.low && (body - named) / empties <= first.high)
        first.low = first.high = (body - named) / empties;
    const auto stored = [&](quint32 read) {
        return read > 0 ? Length { qint64(read), qint64(read) } : first;
    };
    Length at; // where the current tape file starts
    quint64 before = 0; // blocks before it, marks counted
    int next = 0;
    for (int f = 0; f < record.files.size(); ++f) {
        const RunRecord::TapeFile &file = record.files[f];
        QVector<QPair<Length, qint64>> lengths; // by length, ascending
        for (auto it = file.lengths.cbegin(); it != file.lengths.cend(); ++it)
            lengths.append({ stored(it.key()), it.value() });
        std::sort(lengths.begin(), lengths.end(),
            [](const auto &a, const auto &b) { return a.first.low < b.first.low; });
        for (; next < blocks.size() && blocks[next] <= before + quint64(file.records); ++next) {
            // The j records before it in the file: at least the j shortest, at most the j longest.
            const qint64 j = qint64(blocks[next] - before - 1);
            qint64 low = 0, high = 0, left = j, right = j;
            for (const auto &length : lengths) {
                const qint64 taken = std::min(left, length.second);
                low += taken * length.first.low;
                left -= taken;
            }
            for (auto it = lengths.crbegin(); it != lengths.crend(); ++it) {
                const qint64 taken = std::min(right, it->second);
                high += taken * it->first.high;
                right -= taken;
            }
            const qint64 longest = lengths.isEmpty() ? 0 : lengths.last().first.high;
            add(at.low + low, at.high + high + longest);
        }
        for (const auto &length : lengths) {
            at.low += length.second * length.first.low;
            at.high += length.second * length.first.high;
        }
        before += quint64(file.records);
        if (qint64(f) < record.marksRead) { // the tape mark after it
            if (at.low == at.high)
                marks->append(at.low);
            at.low += first.low;
            at.high += first.high;
            ++before;
        }
    }
    return spans;
}

} // namespace

bool isTapPath(const QString &path)
{
    return path.endsWith(QLatin1String(".tap"), Qt::CaseInsensitive);
}

ImageFacts readImageFacts(const QString &path)
{
    if (isTapPath(path))
        return readTapFacts(path);
    const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
    ImageFacts facts;
    facts.path = path;
    facts.fileSize = trailer.fileSize;
    facts.hasTrailer = trailer.valid;
    facts.tapeBlockLength = trailer.tapeBlockLength;
    facts.blockSize = trailer.blockSize;
    facts.bodyLength = std::max<qint64>(0, std::min(trailer.bodyLength, trailer.fileSize));
    facts.recordCount = trailer.recordCount;
    facts.bodyDividesEvenly = trailer.bodyDividesEvenly;
    const QString implausible = trailer.valid ? implausibleTrailer(trailer) : QString();
    if (!implausible.isEmpty()) {
        facts.hasTrailer = false;
        facts.bodyLength = trailer.fileSize;
        facts.recordCount = 0;
        facts.bodyDividesEvenly = false;
        facts.trailerNote = QStringLiteral("The end of the file reads like a trailer, but %1: "
                                           "the whole file is scanned as tape data.")
                                .arg(implausible);
    } else if (!trailer.valid) {
        facts.trailerNote
            = QStringLiteral("No trailer (%1): the whole file is scanned as tape data.")
                  .arg(trailer.problem.isEmpty() ? QStringLiteral("not found") : trailer.problem);
    } else if (!trailer.bodyDividesEvenly) {
        // The records differ in length (an "Auto" run over blocks of several
        // sizes): S says nothing about where records start.
        facts.trailerNote = QStringLiteral("The records are not all %1 bytes long; the scan "
                                           "looks for archives every 512 bytes.")
                                .arg(trailer.blockSize);
    } else {
        facts.recordStep = qint64(trailer.blockSize);
    }
    facts.streamLength = facts.bodyLength;
    facts.layout = std::make_shared<RecordLayout>(
        RecordLayout::contiguous(facts.bodyLength, facts.recordStep));
    // The run that made the image knows which blocks it could not read; the image
    // itself holds zeros or the drive's bytes there, which look like any others.
    RunRecord::Record record;
    if (RunRecord::readBeside(QFile::encodeName(path), record)
        && record.format == RunRecord::ImageFormat::Tape && record.bytesWritten == facts.fileSize) {
        facts.recordedDamage = damagedSpans(record, facts.bodyLength, &facts.recordedTapeMarks);
        facts.unreadableRecords = facts.recordedDamage.size();
    }
    return facts;
}

void markRecordedDamage(ImageFacts *facts)
{
    if (facts->recordedDamage.isEmpty() || !facts->layout)
        return;
    auto layout = std::make_shared<RecordLayout>(*facts->layout);
    for (const auto &span : qAsConst(facts->recordedDamage))
        layout->markUnreadable(
            layout->streamOffsetAt(span.first), layout->streamOffsetAt(span.second));
    facts->layout = layout;
}

bool mayBePadded(const ImageFacts &facts)
{
    return !facts.tapFile && facts.recordStep > 0 && facts.tapeBlockLength > 0
        && facts.tapeBlockLength < facts.blockSize;
}

} // namespace Quorlin
