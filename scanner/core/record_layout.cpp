#include "scanner/core/record_layout.h"

#include "scanner/core/scan_result.h"

#include <algorithm>

namespace Quorlin {

RecordLayout RecordLayout::contiguous(qint64 length, qint64 recordLength)
{
    RecordLayout layout;
    if (length <= 0)
        return layout;
    if (recordLength > 0 && length % recordLength == 0) {
        layout.m_runs.append({ 0, 0, recordLength, recordLength, length / recordLength });
    } else {
        layout.m_runs.append({ 0, 0, length, length, 1 });
        layout.m_recordsKnown = false;
    }
    return layout;
}

void RecordLayout::append(const Run &run)
{
    if (run.count <= 0 || run.dataLength <= 0)
        return;
    Run added = run;
    added.streamStart = streamLength();
    if (!m_runs.isEmpty()) {
        Run &last = m_runs.last();
        const bool tapeMarkBetween
            = !m_tapeMarks.isEmpty() && m_tapeMarks.last() == added.streamStart;
        if (!tapeMarkBetween && last.dataLength == added.dataLength && last.stride == added.stride
            && last.unreadable == added.unreadable && last.file == added.file
            && last.fileOffset + last.count * last.stride == added.fileOffset) {
            last.count += added.count;
            return;
        }
    }
    m_runs.append(added);
}

void RecordLayout::addTapeMark()
{
    m_tapeMarksKnown = true;
    m_tapeMarks.append(streamLength());
}

void RecordLayout::appendVolume(const RecordLayout &next, int file)
{
    const qint64 base = streamLength();
    m_volumeStarts.append(base);
    for (Run run : next.m_runs) {
        run.streamStart += base;
        run.file = file;
        m_runs.append(run); // never joined to a run of another image
    }
    for (const qint64 mark : next.m_tapeMarks)
        m_tapeMarks.append(mark + base);
    for (const auto &span : next.m_unreadable)
        m_unreadable.append({ span.first + base, span.second + base });
    m_recordsKnown = m_recordsKnown && next.m_recordsKnown;
    m_tapeMarksKnown = m_tapeMarksKnown && next.m_tapeMarksKnown;
}

int RecordLayout::volumeAt(qint64 streamOffset) const
{
    return int(std::upper_bound(m_volumeStarts.cbegin(), m_volumeStarts.cend(), streamOffset)
        - m_volumeStarts.cbegin());
}

qint64 RecordLayout::volumeStart(int volume) const
{
    if (volume <= 0)
        return 0;
    return volume <= m_volumeStarts.size() ? m_volumeStarts.at(volume - 1) : streamLength();
}

int RecordLayout::runIndex(qint64 streamOffset) const
{
    const auto after = std::upper_bound(m_runs.cbegin(), m_runs.cend(), streamOffset,
        [](qint64 offset, const Run &run) { return offset < run.streamStart; });
    return std::max(0, int(after - m_runs.cbegin()) - 1);
}

qint64 RecordLayout::imageOffset(qint64 streamOffset) const
{
    if (m_runs.isEmpty())
        return streamOffset;
    const Run &run = m_runs.at(runIndex(streamOffset));
    const qint64 within = streamOffset - run.streamStart;
    return run.fileOffset + within / run.dataLength * run.stride + within % run.dataLength;
}

std::pair<qint64, qint64> RecordLayout::piece(qint64 streamOffset) const
{
    if (m_runs.isEmpty() || streamOffset >= streamLength())
        return { imageOffset(streamOffset), 0 };
    const Run &run = m_runs.at(runIndex(streamOffset));
    const qint64 within = streamOffset - run.streamStart;
    const qint64 length = run.stride == run.dataLength ? run.streamEnd() - streamOffset
                                                       : run.dataLength - within % run.dataLength;
    return { imageOffset(streamOffset), length };
}

qint64 RecordLayout::recordStart(qint64 streamOffset) const
{
    if (!m_recordsKnown || m_runs.isEmpty())
        return 0;
    const Run &run = m_runs.at(runIndex(streamOffset));
    return run.streamStart + (streamOffset - run.streamStart) / run.dataLength * run.dataLength;
}

qint64 RecordLayout::recordEnd(qint64 streamOffset) const
{
    if (!m_recordsKnown || m_runs.isEmpty())
        return streamLength();
    const Run &run = m_runs.at(runIndex(streamOffset));
    return std::min(recordStart(streamOffset) + run.dataLength, streamLength());
}

qint64 RecordLayout::nextRecordStart(qint64 streamOffset) const
{
    const qint64 end = streamLength();
    if (!m_recordsKnown || streamOffset >= end)
        return end;
    const Run &run = m_runs.at(runIndex(std::max<qint64>(0, streamOffset)));
    const qint64 within = std::max<qint64>(0, streamOffset - run.streamStart);
    const qint64 next
        = run.streamStart + (within + run.dataLength - 1) / run.dataLength * run.dataLength;
    return std::min(next, end);
}

qint64 RecordLayout::tapeFileEnd(qint64 streamOffset) const
{
    const auto mark = std::upper_bound(m_tapeMarks.cbegin(), m_tapeMarks.cend(), streamOffset);
    // The end of a volume ends its last tape file, marked or not.
    return std::min(mark == m_tapeMarks.cend() ? streamLength() : *mark,
        volumeStart(volumeAt(streamOffset) + 1));
}

qint64 RecordLayout::tapeFileStart(qint64 streamOffset) const
{
    const auto mark = std::upper_bound(m_tapeMarks.cbegin(), m_tapeMarks.cend(), streamOffset);
    return std::max(
        mark == m_tapeMarks.cbegin() ? 0 : *(mark - 1), volumeStart(volumeAt(streamOffset)));
}

QVector<RecordLayout::Run> RecordLayout::unreadableIn(qint64 begin, qint64 end) const
{
    QVector<Run> found;
    for (int i = runIndex(begin); i < m_runs.size() && m_runs[i].streamStart < end; ++i) {
        if (m_runs[i].unreadable && m_runs[i].streamEnd() > begin)
            found.append(m_runs[i]);
    }
    for (const auto &span : m_unreadable) {
        if (span.first < end && span.second > begin)
            found.append({ span.first, imageOffset(span.first), span.second - span.first,
                span.second - span.first, 1, true });
    }
    std::sort(found.begin(), found.end(),
        [](const Run &a, const Run &b) { return a.streamStart < b.streamStart; });
    return found;
}

void RecordLayout::markUnreadable(qint64 begin, qint64 end)
{
    if (end <= begin)
        return;
    m_unreadable.append({ begin, end });
    std::sort(m_unreadable.begin(), m_unreadable.end());
}

qint64 RecordLayout::streamOffsetAt(qint64 fileOffset) const
{
    for (const Run &run : m_runs) {
        if (fileOffset <= run.fileOffset)
            return run.streamStart;
        const qint64 within = fileOffset - run.fileOffset;
        if (within < run.count * run.stride)
            return run.streamStart + within / run.stride * run.dataLength
                + std::min(within % run.stride, run.dataLength);
    }
    return streamLength();
}

qint64 layoutImageOffset(const RecordLayout &layout, qint64 streamOffset)
{
    return layout.imageOffset(streamOffset);
}

} // namespace Quorlin
