#include "scanner/core/carver.h"

#include "scanner/core/amanda_header.h"
#include "scanner/core/amanda_parts.h"
#include "scanner/core/archive_reader.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/dump_restore.h"
#include "scanner/core/dump_volume.h"
#include "scanner/core/mtf_reader.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"
#include "scanner/core/tape_labels.h"
#include "scanner/core/tar_volumes.h"

#include <algorithm>
#include <cstring>

namespace Quorlin {
namespace {

constexpr qint64 tarBlock = 512;
constexpr qint64 tarEndMarker = 1024;
constexpr qint64 windowSize = 4 << 20;
constexpr qint64 progressInterval = 16 << 20;

/// Smallest value >= x on the grid base + k * step.
qint64 alignUp(qint64 x, qint64 base, qint64 step)
{
    const qint64 from = x - base;
    return base + (from + step - 1) / step * step;
}

/// A sliding view of the stream, refilled with one large read whenever the
/// scan moves past it; the bytes inside archives are never read through it.
class StreamWindow
{
public:
    explicit StreamWindow(BodyStream &stream)
        : m_stream(stream)
    {
        m_buffer.resize(windowSize);
    }

    /// Makes [pos, pos + need) available (cut at the stream's end). False on a read error.
    bool ensure(qint64 pos, qint64 need)
    {
        const qint64 wanted = std::min(pos + need, m_stream.length());
        if (pos >= m_start && wanted <= m_start + m_length)
            return true;
        const qint64 got = m_stream.readAt(pos, m_buffer.data(), windowSize);
        if (got < 0)
            return false;
        m_start = pos;
        m_length = got;
        return wanted <= m_start + m_length;
    }

    const unsigned char *at(qint64 pos) const
    {
        return reinterpret_cast<const unsigned char *>(m_buffer.constData()) + (pos - m_start);
    }
    qint64 availableAt(qint64 pos) const { return m_start + m_length - pos; }
    BodyStream &stream() { return m_stream; }

private:
    BodyStream &m_stream;
    QByteArray m_buffer;
    qint64 m_start = 0;
    qint64 m_length = 0;
};

qint64 firstNonZero(const unsigned char *data, qint64 length)
{
    // Word-wise: long stretches of zeros (tape marks, sparse data) pass through here.
    constexpr qint64 word = sizeof(unsigned long long);
    qint64 i = 0;
    for (unsigned long long value = 0; i + word <= length; i += word) {
        std::memcpy(&value, data + i, word);
        if (value != 0)
            break;
    }
    while (i < length && data[i] == 0)
        ++i;
    return i;
}

/// The walk over the stream: at each possible start, an archive or a dump
/// volume is read and stepped over; everything else is zeros or raw data. A
/// raw region runs on over zeros inside it and ends where an archive starts,
/// at the end of its last record that is not all zeros.
class Carver
{
public:
    Carver(ScanResult &result, BodyStream &stream, const ScanProgress &progress,
        const std::atomic<bool> *cancel)
        : m_result(result)
        , m_facts(result.facts)
        , m_layout(*result.facts.layout)
        , m_window(stream)
        , m_end(stream.length())
        , m_progress(progress)
        , m_cancel(cancel)
    {
    }

    void run()
    {
        qint64 lastReport = 0;
        bool afterZeros = false;
        while (m_pos < m_end) {
            if (m_cancel && m_cancel->load()) {
                m_result.cancelled = true;
                break;
            }
            if (m_progress && m_pos - lastReport >= progressInterval) {
                m_progress(m_pos, m_end);
                lastReport = m_pos;
            }
            if (m_rawStart >= 0 && m_pos >= m_rawTapeFileEnd)
                closeRaw(false);
            // A record larger than the window (a .tap keeps up to 16 MiB) is stepped
            // through a window at a time; only its start is a possible archive start.
            const qint64 next = std::min(nextCandidate(m_pos + 1), m_pos + windowSize);
            if (!m_window.ensure(m_pos, std::max<qint64>(next - m_pos, signatureLength))) {
                m_result.error = QStringLiteral("Reading the image failed at offset %1")
                                     .arg(m_facts.imageOffset(m_pos));
                break;
            }
            if (nextCandidate(m_pos) == m_pos && tryStart(m_pos)) {
                afterZeros = false;
                continue;
            }
            const unsigned char *data = m_window.at(m_pos);
            if (allZero(data, std::size_t(next - m_pos))) {
                m_gapStart = -1;
                afterZeros = true;
                m_pos = skipZeros(next);
                continue;
            }
            // A tape mark as long as an odd-sized first block leaves the next
            // tape file off every grid: it starts at the first non-zero byte.
            qint64 start = m_pos;
            if (afterZeros && !m_layout.recordsKnown()) {
                start += firstNonZero(data, next - m_pos);
                if (start > m_pos && m_window.ensure(start, signatureLength) && tryStart(start)) {
                    afterZeros = false;
                    continue;
                }
            }
            afterZeros = false;
            addRaw(start, next);
            m_pos = next;
        }
        closeRaw(false);
        countZeros();
        if (m_progress)
            m_progress(std::min(m_pos, m_end), m_end);
    }

private:
    /// Archives start at record starts; inside raw data nowhere else when those
    /// are known, so what a format we cannot read stores never splits it.
    qint64 nextCandidate(qint64 from) const
    {
        qint64 next = m_end;
        if (m_layout.recordsKnown())
            next = std::min(next, m_layout.nextRecordStart(from));
        if (onFineGrid()) {
            next = std::min(next, alignUp(from, 0, tarBlock));
            if (m_gridBase > 0) // a damaged archive's headers sit on its own grid
                next = std::min(next, alignUp(from, m_gridBase, tarBlock));
        }
        if (m_resumeAt >= from)
            next = std::min(next, m_resumeAt);
        return std::min(next, m_end);
    }

    /// Whether starts every 512 bytes count, not only record starts.
    bool onFineGrid() const { return !m_layout.recordsKnown() || m_rawStart < 0 || m_damaged >= 0; }

    /// From @p from in a stretch of zeros: the last possible start before the
    /// next non-zero byte in view, where the step by step walk picks up again.
    qint64 skipZeros(qint64 from)
    {
        const qint64 inView = std::min(m_window.availableAt(from), m_end - from);
        if (inView <= 0)
            return from;
        const qint64 nonZero = from + firstNonZero(m_window.at(from), inView);
        if (nonZero >= m_end)
            return m_end;
        qint64 last = from;
        if (m_layout.recordsKnown())
            last = std::max(last, m_layout.recordStart(nonZero));
        if (onFineGrid()) {
            last = std::max(last, alignUp(nonZero - tarBlock + 1, 0, tarBlock));
            if (m_gridBase > 0)
                last = std::max(last, alignUp(nonZero - tarBlock + 1, m_gridBase, tarBlock));
        }
        return std::min(last, nonZero);
    }

    bool tryStart(qint64 at)
    {
        const auto available
            = std::size_t(std::min<qint64>(m_window.availableAt(at), signatureLength));
        const Signature kind = detectSignature(m_window.at(at), available);
        if (kind == Signature::None)
            return false;
        if (kind == Signature::Dump)
            return takeDump(at);
        if (kind == Signature::Amanda)
            return takeAmandaHeader(at);
        if (kind == Signature::Mtf)
            return takeMtf(at);
        if (kind == Signature::Label)
            return takeLabels(at);
        const Compression compression = kind == Signature::Compressed
            ? detectCompression(m_window.at(at), available)
            : Compression::None;
        ArchiveRead read;
        if (!readArchive(m_facts, at, m_layout.tapeFileEnd(at), compression, &read, m_cancel))
            return false;
        checkZeroRecord(&read);
        checkUnreadable(&read);
        FoundArchive &archive = read.archive;
        archive.continuation = m_damaged >= 0
            && ((at - m_gridBase) % tarBlock == 0 || at == m_resumeAt)
            && archive.format == m_result.archives.at(m_damaged).format
            && m_layout.tapeFileEnd(at) == m_layout.tapeFileEnd(m_gridBase);
        closeRaw(archive.continuation);
        m_result.archives.append(archive);
        m_gridBase = at;
        const bool damaged = read.damageAt >= 0;
        m_damaged = damaged ? m_result.archives.size() - 1 : -1;
        m_resumeAt = read.resumeAt;
        m_lastEnd = damaged ? read.damageAt : at + archive.length;
        m_gapStart = m_lastEnd;
        m_pos = std::max(m_lastEnd, at + 1);
        return true;
    }

    bool takeDump(qint64 at)
    {
        closeRaw(false);
        // Listed file by file; kept whole as data when no file can be named.
        FoundArchive dump;
        if (!readDumpArchive(m_facts, m_window.stream(), at, &dump))
            return placeRegion(at, readDumpVolume(m_window.stream(), at, m_layout.tapeFileEnd(at)));
        m_result.archives.append(dump);
        m_gridBase = at;
        m_damaged = -1;
        m_resumeAt = -1;
        m_lastEnd = at + dump.length;
        m_gapStart = m_lastEnd;
        m_pos = std::max(m_lastEnd, at + 1);
        return true;
    }

    /// A backup media's sets, read across its filemarks to its end.
    bool takeMtf(qint64 at)
    {
        closeRaw(false);
        const MtfRead read = readMtfMedia(m_window.stream(), m_layout, at, m_end);
        m_result.archives += read.sets;
        m_gridBase = at;
        m_damaged = -1;
        m_lastEnd = read.end;
        m_gapStart = m_lastEnd;
        m_pos = std::max(m_lastEnd, at + 1);
        return true;
    }

    /// A group of label records; a header group names the data that follows it.
    bool takeLabels(qint64 at)
    {
        closeRaw(false);
        const LabelGroup group = readLabelGroup(m_window.stream(), at, m_end);
        if (group.length == 0)
            return false;
        // The file its header named goes on on the next volume: what is here is a part.
        RawRegion *part = m_result.rawRegions.isEmpty() ? nullptr : &m_result.rawRegions.last();
        if (group.endOfVolume && part && part->name == group.fileName && !part->name.isEmpty()) {
            part->name += QStringLiteral(".damaged");
            part->label = QStringLiteral("only its part on this volume: its end labels say it "
                                         "goes on on the next one");
        }
        RawRegion labels;
        labels.offset = at;
        labels.length = group.length;
        labels.kind = QStringLiteral("label");
        labels.label = group.facts;
        m_labelled = group.header ? group : LabelGroup();
        return placeRegion(at, labels);
    }

    /// The header block alone: the dump behind it is scanned as any other.
    bool takeAmandaHeader(qint64 at)
    {
        closeRaw(false);
        RawRegion header;
        header.offset = at;
        header.length = std::min(amandaHeaderLength, m_layout.tapeFileEnd(at) - at);
        header.kind = QStringLiteral("amanda");
        const auto available
            = std::size_t(std::min<qint64>(m_window.availableAt(at), signatureLength));
        header.label = amandaHeaderFacts(m_window.at(at), available);
        return placeRegion(at, header);
    }

    /// A region recognised at @p at as a whole: the scan goes on after it.
    bool placeRegion(qint64 at, const RawRegion &region)
    {
        m_result.rawRegions.append(region);
        m_gridBase = at;
        m_damaged = -1;
        m_lastEnd = at + region.length;
        m_gapStart = m_lastEnd;
        m_pos = std::max(m_lastEnd, at + 1);
        return true;
    }

    /// A plain tar's end marker with data again before a whole record of zeros
    /// (the tape mark a tape file ends with) is no end: a record inside the
    /// archive was written as zeros, as an unreadable block is.
    void checkZeroRecord(ArchiveRead *read)
    {
        const qint64 marker = read->endMarkerAt;
        if (marker < 0 || !m_layout.recordsKnown() || m_facts.tapFile)
            return;
        const qint64 tapeMarkEnd
            = m_layout.recordEnd(m_layout.recordEnd(marker + tarEndMarker - 1));
        qint64 record = m_layout.recordStart(marker);
        if (tapeMarkEnd >= m_end || !m_window.ensure(record, tapeMarkEnd - record)
            || allZero(m_window.at(marker), std::size_t(tapeMarkEnd - marker)))
            return;
        if (!allZero(m_window.at(record), std::size_t(marker - record)))
            record = marker;
        markDamage(read, m_facts, record,
            QStringLiteral("a record of zeros, as an unreadable block is written, where the "
                           "archive goes on"));
    }

    /// Records a .tap file flags as unreadable are damage wherever they fall.
    void checkUnreadable(ArchiveRead *read)
    {
        const FoundArchive &archive = read->archive;
        for (const RecordLayout::Run &run :
            m_layout.unreadableIn(archive.offset, archive.offset + archive.length)) {
            const qint64 at = std::max(run.streamStart, archive.offset);
            markDamageInside(read, m_facts, at, run.streamEnd(),
                m_facts.tapFile
                    ? QStringLiteral("the tape file marks the record there as unreadable")
                    : QStringLiteral("the run record names the block there as unreadable"));
        }
    }

    void addRaw(qint64 start, qint64 next)
    {
        if (m_rawStart < 0) {
            // From where its record (or, in a .tap file, its tape file) starts,
            // and whatever lies between an archive's end and this step.
            qint64 from = start;
            if (m_layout.tapeMarksKnown())
                from = m_layout.tapeFileStart(start);
            else if (m_layout.recordsKnown())
                from = m_layout.recordStart(start);
            if (m_gapStart >= 0)
                from = std::min(from, m_gapStart);
            m_rawStart = std::max(from, m_lastEnd);
            m_rawAtDamage = m_damaged >= 0 && m_rawStart == m_lastEnd;
            m_rawTapeFileEnd = m_layout.tapeFileEnd(m_rawStart);
        }
        m_gapStart = -1;
        m_rawEnd = next;
    }

    /// Ends the open raw region; @p beforeContinuation: an archive that goes on
    /// after the damage follows, so the region is the unreadable part between.
    void closeRaw(bool beforeContinuation)
    {
        if (m_rawStart >= 0) {
            // Where tape files are known, the zeros at the end of one are its own.
            if (m_layout.tapeMarksKnown())
                m_rawEnd = std::max(m_rawEnd, std::min(m_pos, m_rawTapeFileEnd));
            RawRegion region;
            region.offset = m_rawStart;
            region.length = m_rawEnd - m_rawStart;
            if (m_damaged >= 0 && (beforeContinuation || m_rawAtDamage))
                region.partOf = m_damaged;
            region.label = unreadableLabel(region);
            if (m_labelled.header) {
                region.name = m_labelled.fileName;
                region.recordFormat = m_labelled.recordFormat;
                region.recordLength = m_labelled.recordLength;
                region.ebcdic = m_labelled.ebcdic;
                m_labelled = LabelGroup();
            }
            m_result.rawRegions.append(region);
        }
        m_rawStart = -1;
    }

    QString unreadableLabel(const RawRegion &region) const
    {
        const auto unreadable = m_layout.unreadableIn(region.offset, region.offset + region.length);
        if (unreadable.isEmpty())
            return QString();
        return QStringLiteral("holds records the %1 as unreadable, the first at image offset %2")
            .arg(m_facts.tapFile ? QStringLiteral("tape file marks")
                                 : QStringLiteral("run record names"))
            .arg(m_facts.imageOffset(std::max(unreadable.first().streamStart, region.offset)));
    }

    /// What the scan passed that is neither archive nor raw data was all zeros.
    void countZeros()
    {
        qint64 covered = 0;
        for (const FoundArchive &archive : m_result.archives)
            covered += archive.length;
        for (const RawRegion &region : m_result.rawRegions)
            covered += region.length;
        m_result.zeroBytes = std::max<qint64>(0, std::min(m_pos, m_end) - covered);
    }

    ScanResult &m_result;
    const ImageFacts &m_facts;
    const RecordLayout &m_layout;
    StreamWindow m_window;
    const qint64 m_end;
    const ScanProgress &m_progress;
    const std::atomic<bool> *m_cancel;
    qint64 m_pos = 0;
    qint64 m_gridBase = 0; ///< start of the last archive
    int m_damaged = -1; ///< index of the last archive when it is damaged
    qint64 m_resumeAt = -1; ///< a cpio header after the damage, off the grid
    qint64 m_lastEnd = 0; ///< end of the last archive (or where it broke off) or volume
    qint64 m_gapStart = -1; ///< m_lastEnd, until a step of zeros is passed
    qint64 m_rawStart = -1;
    qint64 m_rawEnd = -1;
    qint64 m_rawTapeFileEnd = 0;
    bool m_rawAtDamage = false;
    LabelGroup m_labelled; ///< the header labels of the file being scanned
};

} // namespace

namespace {

/// Reads each further image's facts and puts its records after the first image's, the
/// change of image marked as a change of volume. False when one cannot be read.
bool appendVolumes(
    ImageFacts *facts, const QStringList &volumes, const std::atomic<bool> *cancel, QString *error)
{
    if (volumes.isEmpty())
        return true;
    auto layout = std::make_shared<RecordLayout>(facts->layout
            ? *facts->layout
            : RecordLayout::contiguous(facts->streamLength, facts->recordStep));
    facts->volumePaths = volumes;
    for (int v = 0; v < volumes.size(); ++v) {
        ImageFacts next = readImageFacts(volumes.at(v));
        if (mayBePadded(next) && !settlePadding(&next, {}, cancel, error))
            return false;
        markRecordedDamage(&next);
        if (next.layout)
            layout->appendVolume(*next.layout, v + 1);
        else
            layout->appendVolume(RecordLayout::contiguous(next.streamLength, 0), v + 1);
        facts->fileSize += next.fileSize;
        facts->unreadableRecords += next.unreadableRecords;
        facts->tapFile = facts->tapFile && next.tapFile;
        if (next.recordStep != facts->recordStep)
            facts->recordStep = 0;
    }
    facts->streamLength = layout->streamLength();
    facts->layout = layout;
    return true;
}

} // namespace

ScanResult scanImage(const QString &path, const ScanProgress &progress,
    const std::atomic<bool> *cancel, const QStringList &volumes)
{
    ScanResult result;
    result.facts = readImageFacts(path);
    ScanProgress scanPart = progress;
    if (mayBePadded(result.facts)) {
        // The padding check reads the body once more: the first half of the progress.
        const double body = double(result.facts.bodyLength);
        ScanProgress checkPart;
        if (progress) {
            checkPart = [&](qint64 done, qint64) { progress(done, 2 * qint64(body)); };
            scanPart = [&](qint64 done, qint64 total) {
                progress(qint64(body + body * double(done) / double(std::max<qint64>(total, 1))),
                    2 * qint64(body));
            };
        }
        if (!settlePadding(&result.facts, checkPart, cancel, &result.error)) {
            result.cancelled = cancel && cancel->load();
            return result;
        }
    }
    markRecordedDamage(&result.facts);
    if (!appendVolumes(&result.facts, volumes, cancel, &result.error)) {
        result.cancelled = cancel && cancel->load();
        return result;
    }
    BodyStream stream(result.facts);
    if (!stream.open()) {
        result.error = stream.errorString();
        return result;
    }
    Carver(result, stream, scanPart, cancel).run();
    joinAmandaParts(&result, stream, cancel);
    joinTarVolumes(&result, stream);
    return result;
}

} // namespace Quorlin
