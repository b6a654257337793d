#pragma once
/**
 * @file
 * The rescue map: what a rescue of a damaged tape knows of every object on it,
 * kept beside the master as "<master>.map" so an interrupted rescue can go on
 * and a later pass can return to the bad places.
 *
 * Positions count records and tape marks from 0, as the drive reports them
 * (the position before the object). While a rescue runs, the records it reads
 * are appended to the partial file in the order they were read, each framed as
 * in a .tap file; a run of objects in the same state that lies contiguously
 * in the partial file is one line of the map, with where its bytes start and
 * how many there are. Records not tried, or from which nothing was recovered,
 * hold no bytes. The master in tape order is assembled from the partial file
 * by the map once the rescue ends (no copy is needed when every object was
 * read in order).
 *
 * The file is plain text, one item per line, "#" starting a comment:
 *
 *     tarnwick-rescue-map 1
 *     partial-bytes 6553700            bytes of the partial file the map accounts for
 *     partial-tail 3f9a...             SHA-256 of up to the last 1 MiB before that
 *     pass 2                           the pass under way or last made
 *     next 109                         where that pass goes on
 *     source 1 first.tap               (merged maps) where records came from
 *     # first count state offset bytes [source]
 *     0 100 good 0 6553600
 *     100 1 mark 6553600 4
 *     101 5 bad 6553604 96
 *     106 3 empty - 0
 *     109 20 untried - 0
 *     129 0 end - 0
 *
 * States: good (read whole), bad (read with an error, what the drive returned
 * kept and flagged), empty (read with an error, nothing returned), untried
 * (not read yet), mark (a tape mark), end (the end of data; count 0). Every
 * position from 0 up to the end (or the last run) appears in exactly one run.
 * A bad record is a run of its own, so that a later pass can replace it; so is
 * an empty one that holds bytes (a flagged record of length 0 in the partial file).
 */
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

namespace Rescue {

enum class State { Good, Bad, Empty, Untried, Mark, End };

/// "good", "bad", ...; and back (false for a word that is not a state).
QString stateWord(State state);
bool stateFromWord(const QString &word, State &state);

/// Objects [first, first + count) in one state, their framed bytes at [offset, offset + bytes)
/// of the partial file (offset -1: no bytes).
struct Run
{
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    State state = State::Untried;
    std::int64_t offset = -1;
    std::uint64_t bytes = 0;
    int source = 0; ///< index into Map::sources(), 0 when the map has none

    std::uint64_t end() const { return first + count; }
    bool operator==(const Run &o) const
    {
        return first == o.first && count == o.count && state == o.state && offset == o.offset
            && bytes == o.bytes && source == o.source;
    }
};

class Map
{
public:
    const QVector<Run> &runs() const { return m_runs; }

    /**
     * Object @p position is in @p state; its @p bytes framed bytes start at @p offset
     * of the partial file (-1 and 0 when it has none). Joins the run before or after
     * when the state and source agree and the bytes follow on; a position past the
     * last run leaves the positions between untried. Bad records are one run each, so
     * that a later pass can replace one; false (nothing changed) for a position inside a
     * run of several objects with bytes, which cannot be split.
     */
    bool set(std::uint64_t position, State state, std::int64_t offset = -1, std::uint64_t bytes = 0,
        int source = 0);
    /// Positions [first, first + count) become @p state with no bytes (untried, empty);
    /// false as for set().
    bool setRange(std::uint64_t first, std::uint64_t count, State state);
    /// The end of data is at @p position: runs past it are dropped.
    void setEnd(std::uint64_t position);

    /// The bytes of run i now start at @p offsets[i] (-1: it has none) of a partial file of
    /// @p partialBytes, as when the master is written out in tape order.
    void relocate(const QVector<std::int64_t> &offsets, std::uint64_t partialBytes);

    /// The state of @p position (Untried past the last run).
    State stateAt(std::uint64_t position) const;
    /// The run holding @p position, or null.
    const Run *runAt(std::uint64_t position) const;
    /// The first position in state untried (or past the last run when none is).
    std::uint64_t firstUntried() const;
    /// True once the end of data is known.
    bool endKnown() const;
    /// Positions not good, mark or end: what a later pass returns to.
    QVector<Run> unfinished() const;
    /// True when the runs with bytes lie in tape order in the partial file, back to back.
    bool inTapeOrder() const;

    /// Objects per state, e.g. "120 good, 3 bad, 2 empty, 20 untried, 2 marks; end at 147".
    QString summary() const;
    std::uint64_t count(State state) const;

    std::uint64_t partialBytes = 0;
    QByteArray partialTail; ///< hex SHA-256, see the file's description
    int pass = 0;
    std::uint64_t next = 0;
    QStringList sources; ///< for merged maps: source n is sources[n - 1]

    /// The map's text.
    QByteArray text() const;
    /// Reads @p text; false with the line and what is wrong in @p error.
    bool parse(const QByteArray &text, QString &error);

    /// Writes the map to @p path atomically (a temporary file synced, then renamed over it,
    /// then the folder synced); false with errno set when it could not.
    bool save(const QByteArray &path) const;
    /// Reads @p path; false with the reason in @p error.
    bool load(const QByteArray &path, QString &error);

private:
    bool assign(const Run &run);
    void normalise();

    QVector<Run> m_runs;
};

/// The hex SHA-256 of the up to 1 MiB of @p fd before byte @p length; empty when unreadable.
QByteArray tailChecksum(int fd, std::uint64_t length);

} // namespace Rescue
