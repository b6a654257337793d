#pragma once
/**
 * @file
 * What a run met on the tape, object by object from the rewind: the tape
 * files with their record counts and lengths, the tape marks, and every block
 * that did not reach the image whole. Block numbers count records and marks
 * from 1, as a drive numbers its blocks.
 */
#include "archive/run_record.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <functional>

class TapeLog
{
public:
    /// Told after every block and mark is logged (@p mark for a mark); kept over restart().
    void setWatcher(std::function<void(bool mark)> watcher) { m_watcher = std::move(watcher); }

    /// The tape was rewound: counting starts again.
    void restart();

    /// Becomes @p other, keeping its watcher.
    void take(TapeLog other)
    {
        other.m_watcher = std::move(m_watcher);
        *this = std::move(other);
    }

    /// The next object logged is at @p position (from 0): a read that did not start at the
    /// start of the tape, or went on after skipping.
    void skipTo(quint64 position) { m_objects = position; }

    void record(quint32 length);
    void mark();
    /// A block the drive could not read, kept as the @p length bytes it returned after
    /// @p tries reads; @p kept says how the image holds it.
    void unreadable(quint32 length, int tries, const QString &kept);
    /// A block longer than the @p length bytes a read takes: only those are kept.
    void cut(quint32 length, const QString &kept);
    /// The block about to be logged was read whole, but only at try @p tries.
    void recovered(int tries);
    /**
     * Block @p block (1-based), logged unreadable or cut, was read whole later, on pass
     * @p pass, as @p length bytes: no longer damage, its length counted anew. False
     * (nothing changed) when this log holds no such block.
     */
    bool readWholeLater(quint64 block, quint32 length, int pass);
    /**
     * Logs again what an earlier run read at the next block: a tape mark (@p mark), or a
     * record of @p length with the @p problems noted of it (their block is set to this
     * one; all but Recovered count as damage). The watcher is not told: nothing was read.
     */
    void relog(bool mark, quint32 length, QVector<RunRecord::Problem> problems);

    quint64 objects() const { return m_objects; } ///< blocks and marks read
    quint64 marks() const { return m_marks; }
    quint64 recordBytes() const { return m_recordBytes; }
    int fileNumber() const { return m_files.size(); } ///< the tape file being read, from 1
    int damageCount() const { return m_damage; } ///< unreadable and cut blocks
    const QVector<RunRecord::Problem> &problems() const { return m_problems; }

    /// "but 2 are not whole: block 5 unreadable, block 9 cut"; the first few are named.
    QString damage() const;

    /// Blocks, marks, files and problems into @p record.
    void fill(RunRecord::Record &record) const;
    /// "30 records (28 of 65536 bytes, 2 of 1000 bytes) in 2 tape files, 2 tape marks".
    QString summary() const;

private:
    void counted(quint32 length);
    void told(bool mark) const
    {
        if (m_watcher)
            m_watcher(mark);
    }

    quint64 m_objects = 0;
    quint64 m_marks = 0;
    quint64 m_recordBytes = 0;
    int m_damage = 0;
    QVector<RunRecord::TapeFile> m_files { RunRecord::TapeFile() };
    QVector<RunRecord::Problem> m_problems;
    struct Damaged
    {
        int file = 0; ///< index into m_files
        quint32 length = 0; ///< as counted
    };
    QMap<quint64, Damaged> m_damaged; ///< by block, for readWholeLater()
    std::function<void(bool mark)> m_watcher;
};
