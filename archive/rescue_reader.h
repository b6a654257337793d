#pragma once
/**
 * @file
 * The rescue of a damaged tape into a master, in passes, with its map (see
 * rescue_map.h) written as it goes.
 *
 * The first pass reads the tape in order, securing what reads first: after two
 * read errors in a row (each read again up to the retries) it spaces forward 1,
 * then 2, 4, ... records, leaving those untried; a good read or a tape mark
 * brings the step back to 1. Each later pass returns only to the records not
 * read good, stretch by stretch: forward from a stretch's start until a read
 * fails, then backwards from its end, one seek per record, until one fails
 * there too. What is read is appended to the partial file in the order it was
 * read; a record read good later replaces the flagged one in the map.
 *
 * The map on disk only ever names bytes that are on the disk: it is saved at
 * every tape mark, at the end of a pass, at least every second and 0.1 s after
 * the writing thread wrote more, each time after the partial file's data is
 * synced, and it names only what the writing thread has written by then. A run killed at any point
 * is resumed from that map: the partial file is cut back to what the map accounts for, and the pass
 * goes on at the map's "next" (see resume()).
 */
#include "archive/rescue_map.h"
#include "archive/run_judge.h"
#include "archive/tape_log.h"
#include "platform/backend/win32_types.h"
#include "platform/tap/tap_pipeline.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <deque>
#include <functional>

namespace Rescue {

/// What one pass did.
struct PassFigures
{
    int number = 0;
    QDateTime started, ended;
    std::uint64_t tried = 0; ///< records read (each visit once, whatever its retries)
    std::uint64_t good = 0;
    std::uint64_t failed = 0;
    /// Where this run went on with the pass an earlier run began; -1: this run began it.
    qint64 resumedAt = -1;
    /// The figures count the earlier run's reads of the pass too (from the map), not only
    /// this run's.
    bool earlierCounted = false;
};

/// What the failure hook says after a read that failed.
enum class AfterFailure { ReadAgain, PassOn, StopRun };

/// Why the rescue stopped.
enum class Stop {
    Done, ///< the passes asked for are made, or nothing is left to read
    Interrupted,
    WriteFailed,
    DriveFailed, ///< an error the drive gives for no record (driveError())
    PositionLost, ///< the drive is not where it was sent (problem())
    DriveAsked, ///< the failure hook said stop (a drive to clean, a tape at risk)
};

class Reader
{
public:
    struct Settings
    {
        int retries = 3; ///< more reads of a record that failed, per visit
        int passes = 2; ///< passes this run makes (a resumed pass counts)
        std::uint64_t bufferBytes = TapPipeline::kDefaultBuffer; ///< waiting for the disk
        qint64 endOfData = -1; ///< as spacing found it; -1 when unknown
        QByteArray mapPath; ///< the map beside the partial file
        QByteArray partialPath; ///< the partial file's name, for reading it back
        std::function<bool()> stopRequested;
        std::function<void()> progress;
        /// Asked after every read that fails with an error of the medium or the drive, at
        /// the record's position: read it again, pass on, or stop the run.
        std::function<AfterFailure(DWORD error, std::uint64_t position)> afterFailure;
        /// What the record an earlier run left says of the blocks it read, and when it
        /// began: a run that goes on with its map logs those blocks again from the map.
        QVector<RunRecord::Problem> earlierProblems;
        QDateTime earlierStart;
    };

    /**
     * Rescues @p drive into the partial file @p fd (open for writing at its end,
     * holding what @p map accounts for), logging pass 1's reads to @p log.
     */
    Reader(HANDLE drive, int fd, const Map &map, TapeLog &log, const Settings &settings);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    /// Reserves the writer's memory and saves the map; false when either fails.
    bool start();
    /// Runs the passes; the map is saved on the way out whatever stopped them.
    Stop run();

    /// What the map on disk says (all that is written).
    const Map &map() const { return m_saved; }
    const QVector<PassFigures> &passes() const { return m_figures; }
    DWORD driveError() const { return m_error; }
    QString problem() const { return m_problem; }
    bool endOfMedium() const { return m_endOfMedium; }
    /// False when a later pass read records the log of pass 1 does not hold: the map, not
    /// the log, then describes the master.
    bool logComplete() const { return !m_logPartial; }
    int writeError() const { return m_pipe.writeError(); }
    /// The times reading waited for the disk, and for how long in all.
    std::uint64_t readerWaits() const { return m_pipe.readerWaits(); }
    double readerWaitSeconds() const { return double(m_pipe.readerWaitNanoseconds()) / 1e9; }
    /// Waits for the writer and saves the map a last time; false when a write failed.
    bool finish();

private:
    struct Event
    {
        bool end = false;
        std::uint64_t position = 0;
        State state = State::Untried;
        std::int64_t offset = -1;
        std::uint64_t bytes = 0;
        std::uint64_t fileEnd = 0; ///< partial file bytes once this is written
        std::uint64_t next = 0;
        int pass = 0;
        bool touches = true; ///< false: only "next" moves
    };
    struct Outcome
    {
        DWORD error = NO_ERROR;
        std::uint32_t got = 0;
        int reads = 1;
    };

    Stop firstPass(std::uint64_t from);
    Stop laterPass(std::uint64_t from);
    Stop stretch(std::uint64_t first, std::uint64_t end);

    Outcome readAt(std::uint64_t position);
    bool seekTo(std::uint64_t position);
    bool where(std::uint64_t &position);
    /// Keeps what a read gave at @p position; true when it was read good.
    bool keep(std::uint64_t position, const Outcome &outcome, bool log);
    void keepMark(std::uint64_t position);
    void keepEnd(std::uint64_t position);
    void moveNext(std::uint64_t next);
    void note(Event event);
    bool save(bool flush);
    bool stopping(Stop &stop);

    HANDLE m_drive;
    bool m_driveAsked = false; ///< the failure hook asked to stop
    bool m_logPartial = false; ///< see logComplete()
    int m_fd;
    TapeLog &m_log;
    Settings m_settings;
    TapPipeline m_pipe;
    Map m_map; ///< everything read, written to the file or not
    Map m_saved; ///< what the file on disk holds
    std::deque<Event> m_pending; ///< in m_map, not yet in m_saved
    std::uint64_t m_base = 0; ///< the partial file's size when the run began
    std::uint64_t m_next = 0;
    int m_pass = 0;
    int m_readFd = -1;
    qint64 m_lastSave = 0;
    std::uint64_t m_savedWritten = 0; ///< the writer's bytes at the last save
    bool m_endOfMedium = false;
    QVector<PassFigures> m_figures;
    DWORD m_error = NO_ERROR;
    QString m_problem;
};

/// The map's name beside the image or partial file @p path.
inline QByteArray mapPath(const QByteArray &path)
{
    return path + ".map";
}

/// Records not read good, as "3 bad with data (block 4), 2 not tried (block 10-11)", blocks
/// counted from 1 as in the other messages (the map's position + 1);
/// empty when there are none.
QString unfinishedText(const Map &map);

/**
 * Writes the master in tape order from the partial file @p from (its runs as
 * @p map says) to @p fd, and sets @p placed to the map of the written file.
 * @return false with errno set when a read or write failed.
 */
bool assemble(int from, const Map &map, int fd, Map &placed);

/**
 * Logs into @p log what the partial file @p fd holds by @p map at the positions before
 * @p upTo, as a run that read them in order would have: marks, records with their lengths,
 * and the problems @p known names of them (a flagged record it does not name is logged
 * unreadable). False with errno set when the file could not be read.
 */
bool relog(int fd, const Map &map, std::uint64_t upTo, const QVector<RunRecord::Problem> &known,
    TapeLog &log);

/// Spaces to the end of data and returns its position (blocks and marks); -1 when
/// the drive does not tell. The tape is left there.
qint64 findEndOfData(HANDLE drive);

/**
 * How much of the tape a master holds, from its @p map, after a rescue that stopped
 * for @p stop (@p why: the words for a stop before the end) on a tape whose data ends
 * after @p endOfData blocks and marks as spacing found it (-1: not known).
 */
Judgement judge(const Map &map, Stop stop, qint64 endOfData, const QString &why);

} // namespace Rescue
