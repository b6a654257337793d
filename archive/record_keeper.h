#pragma once
/**
 * @file
 * The run record beside the image, kept up to date while a run reads: written
 * at the first block, at every tape mark and at least every few seconds, each
 * time replacing the one before in one step. A run killed outright (SIGKILL, a
 * power cut) so leaves a record of what it had read up to then, "unfinished".
 * A run that ends writes its own record over it, or takes it away when it
 * leaves no image.
 */
#include "archive/run_record.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <functional>

class TapeLog;

class RecordKeeper
{
public:
    /// How often at least the record is written while blocks come.
    static constexpr qint64 kIntervalMs = 2000;
    /// A block not read whole (or only read again) is on record at once, a run that goes on
    /// from the map learning from it how each block failed; a stretch of them every 0.1 s.
    static constexpr qint64 kProblemIntervalMs = 100;

    /**
     * Keeps @p record, filled from @p log, beside the image that @p imagePath
     * names and @p imageFd holds (asked each time: the image may be renamed).
     */
    RecordKeeper(RunRecord::Record &record, const TapeLog &log,
        std::function<QByteArray()> imagePath, std::function<int()> imageFd);

    /// A block (or, with @p mark, a tape mark) was logged.
    void logged(bool mark);
    /// Writes it now; false when it could not be written.
    bool write();
    /// The run ends and its own record went to @p finalPath (empty: none): no more
    /// interim records, and the last one goes unless that is where the final one is.
    void finish(const QByteArray &finalPath);

private:
    RunRecord::Record &m_record;
    const TapeLog &m_log;
    std::function<QByteArray()> m_imagePath;
    std::function<int()> m_imageFd;
    QElapsedTimer m_sinceWritten;
    QByteArray m_written; ///< where the last interim record went
    bool m_done = false;
    int m_problemsWritten = 0; ///< the log's problems the last record held
    QElapsedTimer m_sinceProblem; ///< since a record was written for a problem
};
