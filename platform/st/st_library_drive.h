#pragma once
/**
 * @file
 * A library's tape drive as the batch handles it between two images: which
 * nst node has which serial number (to pair nodes with the changer's drives),
 * whether a cartridge the robot put in has become ready, and unloading it so
 * the robot can take it out.
 */
#include <string>
#include <vector>

namespace StLibraryDrive {

struct TapeNode
{
    std::string path; ///< /dev/nstN
    std::string serial; ///< the unit serial number; empty when the drive does not say
};

/// Every non-rewinding tape node in sysfs, in node order, with the serial number from
/// sysfs (vpd_pg80), else from INQUIRY page 0x80 through the node's generic node.
std::vector<TapeNode> tapeNodes();

/// 1 when the drive at @p path holds a ready cartridge, 0 when not yet, -errno when
/// the node cannot be opened or asked.
int ready(const std::string &path);

/// Rewinds and unloads the cartridge (MTOFFL); 0, or errno.
int unload(const std::string &path);

} // namespace StLibraryDrive
