#pragma once
/**
 * @file
 * Masters of one tape, read by different drives or runs, combined into the
 * best master there can be: every object by its position on the tape, a good
 * read of a record preferred to a flagged one, and the differences that no
 * rule can settle (two good reads that differ, marks in different places)
 * brought to light rather than chosen between in silence.
 *
 * Each master is read by its layout (rescue_layout.h).
 */
#include "archive/rescue_layout.h"
#include "archive/run_record.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <functional>

namespace Rescue {

/// One good read of a position that differs from another source's good read.
struct DifferingRead
{
    int source = 0; ///< 1-based, as in the result's map
    QByteArray sha256; ///< of the record's bytes, lower-case hex
};

struct Difference
{
    std::uint64_t position = 0;
    QVector<DifferingRead> reads; ///< every source's good read there; the first one was kept
};

struct MergeResult
{
    QString refusal; ///< non-empty: the sources cannot be merged, and nothing was written
    int writeError = 0; ///< errno of a failed write (the output then holds only a part)
    bool stopped = false; ///< the stop request ended the merge early
    Map map; ///< the output's map, its sources named
    QVector<Difference> differences; ///< the first ten thousand
    std::uint64_t differing = 0; ///< positions whose good reads differ
    QStringList notes;
    QVector<RunRecord::TapeFile> files; ///< what the output holds, for the run record
    QVector<RunRecord::Problem> problems;
    std::uint64_t objects = 0; ///< records and marks written
    std::uint64_t marks = 0;
    std::int64_t endOfData = -1; ///< where the data ends, when a source knows it
    RunRecord::Verdict verdict = RunRecord::Verdict::NotKnown;
    QString verdictText;
};

/**
 * Merges the masters @p sources into the empty file open as @p out (not owned), in tape
 * order, as a .tap master: where one source read a record good it wins (the first of
 * them); else the longest flagged read, else a record from which nothing was read; a
 * position no source tried is left out, and the map says so. Sources must agree where
 * the marks and the end of data are, except where one of them did not try. @p names are
 * what the map's source lines call the sources. @p stopRequested is asked now and then.
 */
MergeResult merge(const QList<QByteArray> &sources, const QStringList &names, int out,
    const std::function<bool()> &stopRequested = {});

/// The differences as run record entries: position, and each source with its checksum.
QJsonArray differencesToJson(const QVector<Difference> &differences, int limit);

} // namespace Rescue
