#include "archive/master_reader.h"

#include "platform/backend/tape_backend.h"
#include "platform/win32_tape.h"

namespace Master {

namespace {

using RunRecord::Verdict;

bool position(HANDLE drive, quint64 &where)
{
    DWORD partition = 0, low = 0, high = 0;
    if (GetTapePosition(drive, TAPE_ABSOLUTE_POSITION, &partition, &low, &high) != NO_ERROR)
        return false;
    where = quint64(high) << 32 | low;
    return true;
}

DWORD space(HANDLE drive, qint64 records)
{
    return SetTapePosition(
        drive, TAPE_SPACE_RELATIVE_BLOCKS, 0, DWORD(records), DWORD(quint64(records) >> 32), FALSE);
}

} // namespace

TapSink::TapSink(int fd, std::uint64_t bufferBytes)
    : m_pipe(fd, TapeBackend::kLargestRecord, bufferBytes)
{
}

Reader::Reader(HANDLE drive, MasterSink &sink, TapeLog &log, int retries,
    std::function<bool()> stopRequested, std::function<void()> progress)
    : m_drive(drive)
    , m_sink(sink)
    , m_log(log)
    , m_retries(retries)
    , m_stopRequested(std::move(stopRequested))
    , m_progress(std::move(progress))
{
}

DWORD Reader::read(std::uint32_t &got)
{
    // A master keeps every block whole, up to the largest any tape transfers.
    const DWORD error
        = ReadFile(m_drive, m_sink.recordBuffer(), TapeBackend::kLargestRecord, &got, nullptr)
        ? NO_ERROR
        : GetLastError();
    if (m_failureHook && error != NO_ERROR && error != ERROR_FILEMARK_DETECTED
        && error != ERROR_NO_DATA_DETECTED && error != ERROR_END_OF_MEDIA)
        m_after = m_failureHook(error, m_log.objects());
    return error;
}

/// Back before the block being read: the drive may have passed it or stayed.
bool Reader::backBefore()
{
    quint64 at = 0;
    if (!position(m_drive, at))
        return false;
    if (at == m_log.objects())
        return true;
    return at == m_log.objects() + 1 && space(m_drive, -1) == NO_ERROR;
}

/// Reads a block that failed again, up to the retries; returns how many reads were made.
int Reader::readAgain(DWORD &error, std::uint32_t &got)
{
    int reads = 1;
    while (error == ERROR_CRC && reads <= m_retries && m_after == AfterFailure::ReadAgain
        && backBefore()) {
        error = read(got);
        ++reads;
    }
    return reads;
}

/// After an unreadable block: on past it, when the drive did not go by itself.
bool Reader::passOver()
{
    quint64 at = 0;
    if (!position(m_drive, at) || at >= m_log.objects())
        return true; // a drive that cannot say where it is has passed the block, as drives do
    return at + 1 == m_log.objects() && space(m_drive, 1) == NO_ERROR;
}

Stop Reader::run(qint64 endOfData)
{
    bool afterMark = false;
    for (;;) {
        if (m_stopRequested && m_stopRequested())
            return Stop::Interrupted;
        if (m_sink.failed())
            return Stop::WriteFailed;
        std::uint32_t got = 0;
        m_after = AfterFailure::ReadAgain;
        DWORD error = read(got);
        const int reads = error == ERROR_CRC ? readAgain(error, got) : 1;
        switch (error) {
        case NO_ERROR:
            if (!m_sink.commitRecord(got, false)) {
                // Only an empty record read whole: no drive returns one.
                m_error = ERROR_IO_DEVICE;
                return Stop::DriveFailed;
            }
            if (reads > 1)
                m_log.recovered(reads);
            m_log.record(got);
            break;
        case ERROR_FILEMARK_DETECTED:
            m_sink.commitMark();
            m_log.mark();
            if (afterMark && endOfData < 0)
                return Stop::TwoMarks;
            break;
        case ERROR_NO_DATA_DETECTED:
            return Stop::EndOfData;
        case ERROR_END_OF_MEDIA:
            m_sink.commitEndOfMedium();
            return Stop::EndOfMedium;
        case ERROR_MORE_DATA:
            m_sink.commitRecord(got, true);
            m_log.cut(got,
                QStringLiteral("the master keeps its first %1 bytes, flagged as not "
                               "read whole")
                    .arg(got));
            break;
        case ERROR_CRC:
            m_sink.commitRecord(got, true);
            m_log.unreadable(got, reads,
                QStringLiteral("the master keeps the %1 bytes the drive returned, flagged as "
                               "unreadable")
                    .arg(got));
            if (!passOver())
                return Stop::Stuck;
            break;
        default:
            m_error = error;
            return Stop::DriveFailed;
        }
        if (m_after == AfterFailure::StopRun)
            return Stop::DriveAsked;
        afterMark = error == ERROR_FILEMARK_DETECTED;
        if (m_progress)
            m_progress();
    }
}

qint64 findEndOfData(HANDLE drive)
{
    quint64 where = 0;
    if (SetTapePosition(drive, TAPE_SPACE_END_OF_DATA, 0, 0, 0, FALSE) != NO_ERROR
        || !position(drive, where))
        return -1;
    return qint64(where);
}

Judgement judge(const TapeLog &log, Stop stop, qint64 endOfData, DWORD driveError)
{
    const quint64 read = log.objects();
    const QString blocks = QString::number(read);
    switch (stop) {
    case Stop::DriveFailed:
        return { Verdict::StopsShort,
            QStringLiteral("the drive failed after block %1 (error %2); the master ends there and "
                           "the rest of the tape is not in it")
                .arg(blocks)
                .arg(driveError) };
    case Stop::Stuck:
        return { Verdict::StopsShort,
            QStringLiteral("the drive cannot space past the unreadable block %1; the master ends "
                           "there and the rest of the tape is not in it")
                .arg(blocks) };
    case Stop::EndOfData:
        if (endOfData >= 0 && read < quint64(endOfData)) {
            return { Verdict::StopsShort,
                QStringLiteral(
                    "the drive reported the end of data after block %1, but spacing "
                    "had found it after block %2; what lies between is not in the master")
                    .arg(blocks)
                    .arg(endOfData) };
        }
        break;
    default:
        break;
    }
    const QString end = stop == Stop::EndOfMedium ? QStringLiteral("the end of the medium")
        : stop == Stop::TwoMarks                  ? QStringLiteral("two tape marks in a row")
                                                  : QStringLiteral("the end of data");
    QString whole = QStringLiteral("every block and mark to %1 is in the master (%2 blocks and "
                                   "marks)")
                        .arg(end, blocks);
    if (stop == Stop::TwoMarks)
        whole += QStringLiteral("; the drive did not report the end of data, so whether anything "
                                "follows them is not known");
    if (log.damageCount() > 0) {
        return { Verdict::Damaged,
            whole + QStringLiteral(", flagged where it could not be read whole, ") + log.damage() };
    }
    return { Verdict::Complete, whole };
}

} // namespace Master
