#include "tools/tarnwick-image/master_command.h"

#include "imaging/imaging_state.h"
#include "platform/posix/native_file.h"
#include "platform/st/st_tape.h"
#include "platform/posix/stop_signals.h"
#include "platform/tap/tap_pipeline.h"
#include "platform/win32_tape.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/run_session.h"

namespace {

using RunRecord::Verdict;

/// The largest block a SCSI tape drive transfers; a master keeps every block whole up to it.
constexpr std::uint32_t kLargestBlock = StTape::kLargestRecord;

/// Why reading stopped.
enum class Stop { EndOfData, EndOfMedium, TwoMarks, DriveFailed, Stuck, WriteFailed, Interrupted };

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

class MasterReader
{
public:
    MasterReader(HANDLE drive, TapPipeline &pipe, RunSession &session, int retries)
        : m_drive(drive)
        , m_pipe(pipe)
        , m_session(session)
        , m_log(session.log())
        , m_retries(retries)
    {
    }

    Stop run(qint64 endOfData);
    DWORD driveError() const { return m_error; }

private:
    DWORD read(std::uint32_t &got)
    {
        return ReadFile(m_drive, m_pipe.recordBuffer(), kLargestBlock, &got, nullptr)
            ? NO_ERROR
            : GetLastError();
    }
    int readAgain(DWORD &error, std::uint32_t &got);
    bool backBefore();
    bool passOver();
    void showProgress(qint64 endOfData);

    HANDLE m_drive;
    TapPipeline &m_pipe;
    RunSession &m_session;
    TapeLog &m_log;
    int m_retries;
    DWORD m_error = NO_ERROR;
};

/// Back before the block being read: the drive may have passed it or stayed.
bool MasterReader::backBefore()
{
    quint64 at = 0;
    if (!position(m_drive, at))
        return false;
    if (at == m_log.objects())
        return true;
    return at == m_log.objects() + 1 && space(m_drive, -1) == NO_ERROR;
}

/// Reads a block that failed again, up to the retries; returns how many reads were made.
int MasterReader::readAgain(DWORD &error, std::uint32_t &got)
{
    int reads = 1;
    while (error == ERROR_CRC && reads <= m_retries && backBefore()) {
        error = read(got);
        ++reads;
    }
    return reads;
}

/// After an unreadable block: on past it, when the drive did not go by itself.
bool MasterReader::passOver()
{
    quint64 at = 0;
    if (!position(m_drive, at) || at >= m_log.objects())
        return true; // a drive that cannot say where it is has passed the block, as drives do
    return at + 1 == m_log.objects() && space(m_drive, 1) == NO_ERROR;
}

void MasterReader::showProgress(qint64 endOfData)
{
    const qint64 recorded = ImagingState::totalBytes;
    if (recorded > 0)
        m_session.progress().update(
            m_log.recordBytes(), quint64(recorded), m_log.recordBytes(), m_log.fileNumber());
    else
        m_session.progress().update(m_log.objects(), endOfData > 0 ? quint64(endOfData) : 0,
            m_log.recordBytes(), m_log.fileNumber());
}

Stop MasterReader::run(qint64 endOfData)
{
    bool afterMark = false;
    for (;;) {
        if (StopSignals::received())
            return Stop::Interrupted;
        if (m_pipe.failed())
            return Stop::WriteFailed;
        std::uint32_t got = 0;
        DWORD error = read(got);
        const int reads = error == ERROR_CRC ? readAgain(error, got) : 1;
        switch (error) {
        case NO_ERROR:
            if (reads > 1)
                m_log.recovered(reads);
            m_pipe.commitRecord(got, false);
            m_log.record(got);
            break;
        case ERROR_FILEMARK_DETECTED:
            m_pipe.commitMark();
            m_log.mark();
            if (afterMark && endOfData < 0)
                return Stop::TwoMarks;
            break;
        case ERROR_NO_DATA_DETECTED:
            return Stop::EndOfData;
        case ERROR_END_OF_MEDIA:
            m_pipe.commitEndOfMedium();
            return Stop::EndOfMedium;
        case ERROR_MORE_DATA:
            m_pipe.commitRecord(got, true);
            m_log.cut(got,
                QStringLiteral("the master keeps its first %1 bytes, flagged as not "
                               "read whole")
                    .arg(got));
            break;
        case ERROR_CRC:
            m_pipe.commitRecord(got, true);
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
        afterMark = error == ERROR_FILEMARK_DETECTED;
        showProgress(endOfData);
    }
}

/// Where the data ends, found before reading: progress has a total, and the end is checked.
qint64 endOfData(HANDLE drive)
{
    quint64 where = 0;
    if (SetTapePosition(drive, TAPE_SPACE_END_OF_DATA, 0, 0, 0, FALSE) != NO_ERROR
        || !position(drive, where))
        return -1;
    return qint64(where);
}

int judge(RunSession &session, Stop stop, qint64 endOfData, DWORD driveError)
{
    const quint64 read = session.log().objects();
    const QString blocks = QString::number(read);
    switch (stop) {
    case Stop::DriveFailed:
        return session.end(Verdict::StopsShort,
            QStringLiteral("the drive failed after block %1 (error %2); the master ends there and "
                           "the rest of the tape is not in it")
                .arg(blocks)
                .arg(driveError),
            ExitCode::StopsShort);
    case Stop::Stuck:
        return session.end(Verdict::StopsShort,
            QStringLiteral("the drive cannot space past the unreadable block %1; the master ends "
                           "there and the rest of the tape is not in it")
                .arg(blocks),
            ExitCode::StopsShort);
    case Stop::EndOfData:
        if (endOfData >= 0 && read < quint64(endOfData)) {
            return session.end(Verdict::StopsShort,
                QStringLiteral(
                    "the drive reported the end of data after block %1, but spacing "
                    "had found it after block %2; what lies between is not in the master")
                    .arg(blocks)
                    .arg(endOfData),
                ExitCode::StopsShort);
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
    if (session.log().damageCount() > 0) {
        return session.end(Verdict::Damaged,
            whole + QStringLiteral(", flagged where it could not be read whole, ")
                + session.log().damage(),
            ExitCode::Damaged);
    }
    return session.end(Verdict::Complete, whole, ExitCode::Complete);
}

int writeFailed(RunSession &session, int error)
{
    const QString name = Console::shown(session.target().path());
    const qint64 limit = NativeFile::fileSizeLimit();
    if (limit >= 0 && NativeFile::size(session.target().fd()) >= limit) {
        return session.fail(ExitCode::WriteFailed,
            QStringLiteral("writing %1 failed: the file reached the size limit of %2 bytes "
                           "(ulimit -f)")
                .arg(name)
                .arg(limit));
    }
    return session.fail(ExitCode::WriteFailed,
        QStringLiteral("writing %1 failed: %2").arg(name, NativeFile::errorText(error)));
}

} // namespace

int runMaster(const Options &options)
{
    RunSession session(options);
    if (const int code = session.begin())
        return code;
    const HANDLE drive = ImagingState::tapeHandle;
    const qint64 end = endOfData(drive);
    session.record().endOfData = end;
    if (end < 0) {
        Console::say(QStringLiteral("the drive did not report where its data ends; reading up "
                                    "to two tape marks in a row"));
    }
    if (SetTapePosition(drive, TAPE_ABSOLUTE_BLOCK, 0, 0, 0, FALSE) != NO_ERROR) {
        return session.fail(ExitCode::PositionUnknown,
            QStringLiteral("the drive could not rewind the tape (error %1)").arg(GetLastError()));
    }
    TapPipeline pipe(session.target().fd(), kLargestBlock);
    if (!pipe.start())
        return session.fail(ExitCode::WriteFailed, QStringLiteral("not enough memory for the run"));
    MasterReader reader(drive, pipe, session, options.retries);
    const Stop stop = reader.run(end);
    const bool written = pipe.finish();
    if (stop == Stop::Interrupted)
        session.interrupted();
    if (!written || stop == Stop::WriteFailed)
        return writeFailed(session, pipe.writeError());
    return judge(session, stop, end, reader.driveError());
}
