#pragma once
/**
 * @file
 * The reading half of a lossless master: every block at its own length, every
 * tape mark, an unreadable block read again a bounded number of times and then
 * kept flagged and passed over, the end of the medium where the drive reports
 * it. What was read goes to a MasterSink (the .tap writer; a rescue map could
 * listen beside it), what it met to the tape log; judge() then says how much of
 * the tape the master holds.
 */
#include "archive/run_judge.h"
#include "archive/run_record.h"
#include "archive/tape_log.h"
#include "platform/backend/win32_types.h"
#include "platform/tap/tap_pipeline.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace Master {

/// Where the blocks a master reads go, in tape order.
class MasterSink
{
public:
    virtual ~MasterSink() = default;
    /// Room for the next record: TapeBackend::kLargestRecord bytes.
    virtual unsigned char *recordBuffer() = 0;
    /// The @p length bytes at recordBuffer() are the next record; false when it cannot be kept.
    virtual bool commitRecord(std::uint32_t length, bool error) = 0;
    virtual void commitMark() = 0;
    virtual void commitEndOfMedium() = 0;
    /// Writing has failed: reading stops.
    virtual bool failed() const = 0;
};

/// The master's writer: the .tap file, written on its own thread as the tape is read.
class TapSink : public MasterSink
{
public:
    /// Writes to @p fd (not owned), with up to @p bufferBytes waiting for the disk.
    explicit TapSink(int fd, std::uint64_t bufferBytes = TapPipeline::kDefaultBuffer);
    /// Reserves its memory and starts writing; false when memory is short.
    bool start() { return m_pipe.start(); }
    /// Waits until everything is written; false when a write failed.
    bool finish() { return m_pipe.finish(); }
    int writeError() const { return m_pipe.writeError(); }
    /// The times reading waited for the disk, and for how long in all.
    std::uint64_t readerWaits() const { return m_pipe.readerWaits(); }
    double readerWaitSeconds() const { return double(m_pipe.readerWaitNanoseconds()) / 1e9; }

    unsigned char *recordBuffer() override { return m_pipe.recordBuffer(); }
    bool commitRecord(std::uint32_t length, bool error) override
    {
        return m_pipe.commitRecord(length, error);
    }
    void commitMark() override { m_pipe.commitMark(); }
    void commitEndOfMedium() override { m_pipe.commitEndOfMedium(); }
    bool failed() const override { return m_pipe.failed(); }

private:
    TapPipeline m_pipe;
};

/// Why reading stopped. DriveAsked: the failure hook said stop (a drive to clean, say).
enum class Stop {
    EndOfData,
    EndOfMedium,
    TwoMarks,
    DriveFailed,
    Stuck,
    WriteFailed,
    Interrupted,
    DriveAsked
};

/// What the failure hook says after a read that failed.
enum class AfterFailure { ReadAgain, PassOn, StopRun };

class Reader
{
public:
    /**
     * Reads @p drive (positioned at its start) into @p sink, logging to @p log.
     * An unreadable block is read up to @p retries more times. @p stopRequested is
     * asked before every read, @p progress told after every block and mark.
     */
    Reader(HANDLE drive, MasterSink &sink, TapeLog &log, int retries,
        std::function<bool()> stopRequested, std::function<void()> progress);

    /// Reads to the end of data (@p endOfData blocks and marks; -1 when unknown).
    Stop run(qint64 endOfData);
    /// The drive's error after Stop::DriveFailed.
    DWORD driveError() const { return m_error; }
    /// Asked after every read that fails with @p error, at @p block (0-based, marks counted).
    void setFailureHook(std::function<AfterFailure(DWORD error, quint64 block)> hook)
    {
        m_failureHook = std::move(hook);
    }

private:
    DWORD read(std::uint32_t &got);
    int readAgain(DWORD &error, std::uint32_t &got);
    bool backBefore();
    bool passOver();

    HANDLE m_drive;
    MasterSink &m_sink;
    TapeLog &m_log;
    int m_retries;
    std::function<bool()> m_stopRequested;
    std::function<void()> m_progress;
    DWORD m_error = NO_ERROR;
    std::function<AfterFailure(DWORD, quint64)> m_failureHook;
    AfterFailure m_after = AfterFailure::ReadAgain; ///< for the block being read
};

/// Spaces to the end of data and returns its position (blocks and marks); -1 when
/// the drive does not tell. The tape is left there.
qint64 findEndOfData(HANDLE drive);

/// How much of the tape a master holds: judges a run that stopped for @p stop (not WriteFailed or
/// Interrupted, which end a run without a judgement) after reading what @p log holds.
Judgement judge(const TapeLog &log, Stop stop, qint64 endOfData, DWORD driveError);

} // namespace Master
