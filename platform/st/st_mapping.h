#pragma once
/**
 * @file
 * The pure parts of the st backend: what the st driver's answers mean as
 * Windows error codes, and the SCSI LOG SENSE tape capacity page.
 */
#include "platform/backend/win32_types.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace StMapping {

/// An errno of open(), ioctl() or read() on a tape node as a Windows error code
/// (EBUSY at open: another program holds the drive).
DWORD errnoToError(int error);

/// GetTapeStatus from mtget.mt_gstat: no medium, not ready, or NO_ERROR.
DWORD statusToError(long gmtStatus);

/**
 * What a read() that failed with EIO meant, from the mt_gstat read right
 * after it: end of data, end of the medium, or a medium error.
 */
DWORD readEioToError(long gmtStatus);

/// The LOG SENSE command for page 0x31 (tape capacity), current cumulative values.
std::array<unsigned char, 10> capacityPageCommand(std::uint16_t allocationLength);

/// Capacity of the main partition from a LOG SENSE page 0x31 answer, in MiB.
struct CapacityPage
{
    std::uint64_t remainingMiB = 0; ///< parameter 1
    std::uint64_t maximumMiB = 0; ///< parameter 3
};

/**
 * Parses a page 0x31 answer of @p length bytes. False when the page is not
 * 0x31 or parameters 1 and 3 are not both there; never reads past @p length
 * or past the length the page gives for itself.
 */
bool parseCapacityPage(const unsigned char *data, std::size_t length, CapacityPage &page);

/// Capacity and remaining space in bytes.
struct MediaFigures
{
    std::int64_t capacity = 0;
    std::int64_t remaining = 0;
};

/**
 * The figures of @p page in bytes. The page counts whole MiB, so less than
 * 1 MiB recorded reads as nothing recorded, and a drive may count a blank
 * tape as holding some. When the end of data is known (@p objectsRecorded,
 * the records and marks before it, not negative), a tape that holds objects
 * reports at least 1 MiB recorded and a blank one none.
 */
MediaFigures mediaFigures(const CapacityPage &page, std::int64_t objectsRecorded);

} // namespace StMapping
