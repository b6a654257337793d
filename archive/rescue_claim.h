#pragma once
/**
 * @file
 * Whether a master run starts afresh or goes on with a rescue an earlier run
 * left: "<master>.partial" with its map "<master>.partial.map" (interrupted),
 * or "<master>" with "<master>.map" that still has records not read good
 * (finished, but not whole: the run makes more passes over it). A map that
 * does not belong to its file is refused, never started over; --force never
 * throws away a rescue that can go on.
 */
#include "archive/image_target.h"
#include "archive/rescue_map.h"

namespace Rescue {

/**
 * Claims @p target's partial file: the earlier rescue's, cut back to what its
 * map accounts for (@p map is that map, @p resumed true), or a new one (@p map
 * empty). Says what it does; returns why not after saying what is wrong.
 */
Archive::Failure claim(ImageTarget &target, bool force, Map &map, bool &resumed);

/// Why @p map does not belong to the file open as @p fd, or empty when it does.
QString mismatch(const Map &map, int fd);

} // namespace Rescue
