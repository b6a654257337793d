#pragma once
/**
 * @file
 * A master read as a map of positions (see rescue_map.h) whose offsets and
 * bytes are those of the master file itself: with its map beside it
 * ("<master>.map") the map says which positions the file leaves out (records
 * never tried are not written); without one every object of the file is at
 * the position it is counted at, from 0.
 */
#include "archive/rescue_map.h"
#include "platform/tap/tap_file.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

namespace Rescue {

/// What a master holds, position by position.
struct Layout
{
    Map map; ///< offsets and bytes are in the master file; empty records have their 8 bytes
    bool fromMap = false; ///< the master's own map said which positions it holds
    QStringList notes; ///< what was found that limits what the master says (damage, no end)
};

/**
 * Reads the master @p path (native bytes) and its map "<path>.map" when there is one.
 * Without a map, the run record beside the master says where the data ends when the run
 * stopped short of it. False with the reason in @p error when the master cannot be read or
 * its map does not fit it.
 */
bool readLayout(const QByteArray &path, Layout &layout, QString &error);

/// The state a record of a .tap file stands for.
State stateOf(const TapFile::Object &object);
/// Whether an object in @p state is in a master file (untried ones are not).
bool holdsObject(State state);

/// Runs appended in position order, joined as the map joins them; linear where
/// Map::set() would rewrite the map for every object.
class RunList
{
public:
    void add(const Run &run);
    void add(std::uint64_t first, std::uint64_t count, State state, std::int64_t offset = -1,
        std::uint64_t bytes = 0, int source = 0);

    /// The runs as a map of a file of @p fileBytes bytes; false when they do not make one.
    bool toMap(Map &map, std::uint64_t fileBytes, const QStringList &sources) const;

private:
    QVector<Run> m_runs;
};

} // namespace Rescue
