#pragma once
#include <QVector>
#include <QtGlobal>

#include <utility>

namespace Quorlin {

/**
 * Where the bytes the tape held lie in the image file. The scan reads a
 * stream: the tape's data back to back, without the zero padding of padded
 * records or the length words of a .tap file. The stream is made of runs of
 * records of one data length each, one every `stride` bytes of the file.
 */
class RecordLayout
{
public:
    struct Run
    {
        qint64 streamStart = 0; ///< stream offset of the run's first byte
        qint64 fileOffset = 0; ///< image offset of that byte
        qint64 dataLength = 0; ///< stream bytes of each record
        qint64 stride = 0; ///< image bytes from one record's start to the next
        qint64 count = 0;
        bool unreadable = false; ///< .tap: the records were flagged as read with an error
        int file = 0; ///< which image holds it: 0 the first, 1 the first further volume, ...

        qint64 streamEnd() const { return streamStart + dataLength * count; }
    };

    /// The file's first @p length bytes as they stand, in records of @p recordLength
    /// bytes, or with record starts unknown when it is 0.
    static RecordLayout contiguous(qint64 length, qint64 recordLength);

    /// Adds records after the last; a run that continues the last one joins it.
    void append(const Run &run);
    /// A tape mark at the current end of the stream (.tap files).
    void addTapeMark();
    /// The layout of a further image, the next volume of the same tape, after the last
    /// record; its runs read from image @p file. The change of volume ends a tape file.
    void appendVolume(const RecordLayout &next, int file);
    /// Which volume (image) holds @p streamOffset: 0 the first.
    int volumeAt(qint64 streamOffset) const;
    int volumeCount() const { return m_volumeStarts.size() + 1; }
    /// Where volume @p volume starts in the stream (the stream length past the last).
    qint64 volumeStart(int volume) const;

    qint64 streamLength() const { return m_runs.isEmpty() ? 0 : m_runs.last().streamEnd(); }
    int runCount() const { return m_runs.size(); }
    bool recordsKnown() const { return m_recordsKnown; }
    bool tapeMarksKnown() const { return m_tapeMarksKnown; }

    /// The run that holds @p streamOffset (the last one past the end).
    const Run &runAt(qint64 streamOffset) const { return m_runs.at(runIndex(streamOffset)); }
    qint64 imageOffset(qint64 streamOffset) const;
    /// Image offset and length of the part of the stream from @p streamOffset that lies
    /// back to back in the file (at most to the end of its record, or of its run).
    std::pair<qint64, qint64> piece(qint64 streamOffset) const;
    /// Start and end of the record that holds @p streamOffset (the whole stream when
    /// record starts are unknown).
    qint64 recordStart(qint64 streamOffset) const;
    qint64 recordEnd(qint64 streamOffset) const;
    /// The first record start at or after @p streamOffset; the stream length when none.
    qint64 nextRecordStart(qint64 streamOffset) const;
    /// Where the tape file holding @p streamOffset ends: its tape mark, or the stream end.
    qint64 tapeFileEnd(qint64 streamOffset) const;
    /// Where it starts: after the tape mark before it, or at 0.
    qint64 tapeFileStart(qint64 streamOffset) const;
    /// The unreadable runs that overlap [begin, end).
    QVector<Run> unreadableIn(qint64 begin, qint64 end) const;
    /// Marks the stream bytes [begin, end) as read with an error (what a run record
    /// says of an image's blocks); unreadableIn() then names them as one run.
    void markUnreadable(qint64 begin, qint64 end);
    /// The stream offset of the first stream byte at or after image offset @p fileOffset.
    qint64 streamOffsetAt(qint64 fileOffset) const;

private:
    int runIndex(qint64 streamOffset) const;

    QVector<Run> m_runs;
    QVector<qint64> m_tapeMarks; ///< stream offsets, ascending
    QVector<qint64> m_volumeStarts; ///< where each further volume starts, ascending
    QVector<std::pair<qint64, qint64>> m_unreadable; ///< marked stream spans, ascending
    bool m_recordsKnown = true;
    bool m_tapeMarksKnown = false;
};

} // namespace Quorlin
