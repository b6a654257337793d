#pragma once
/**
 * @file
 * The exit codes of tarnwick-image. Scripts test them, so they never change
 * meaning and new ones go at the end; the README and --help list them. A run
 * stopped by SIGINT, SIGTERM or SIGHUP ends by that signal.
 */
#include "archive/notices.h"
#include "archive/run_record.h"

namespace ExitCode {

enum : int {
    Complete = 0, ///< the image is complete (or --inspect found a complete image)
    NotComplete = 1, ///< --inspect: the file is not a complete image
    Usage = 2, ///< the command line is wrong
    NoDrive = 3, ///< the tape drive cannot be opened (missing, in use, no access)
    NotReady = 4, ///< the drive is not ready, has no medium, or tells nothing of the medium
    LoadFailed = 5, ///< the tape could not be loaded
    Refused = 6, ///< a block is longer than the chosen block size: abandoned
    Declined = 7, ///< a block is shorter than the chosen size and --yes was not given: abandoned
    CannotCreate = 8, ///< the image file cannot be created (or exists, without --force)
    WriteFailed = 9, ///< not enough free space, or a write failed (disk full)
    PositionUnknown = 10, ///< the drive did not report its position
    Damaged = 11, ///< read to the end of data, but some records are not whole in the image
    StopsShort = 12, ///< the image ends before the end of the tape's data
    NotKnown = 13, ///< --inspect: a well-formed image, but no run record says it is whole
    Unmergeable = 14, ///< --merge, --map-picture: a master unreadable, or masters that disagree
};

/// The exit code for a failed step of the archive (Complete for Failure::None).
inline int of(Archive::Failure failure)
{
    switch (failure) {
    case Archive::Failure::None:
        return Complete;
    case Archive::Failure::NoDrive:
        return NoDrive;
    case Archive::Failure::NotReady:
        return NotReady;
    case Archive::Failure::LoadFailed:
        return LoadFailed;
    case Archive::Failure::CannotCreate:
        return CannotCreate;
    case Archive::Failure::WriteFailed:
        return WriteFailed;
    }
    return WriteFailed;
}

/// The exit code for an image of @p verdict, from a run or --inspect.
inline int ofVerdict(RunRecord::Verdict verdict)
{
    switch (verdict) {
    case RunRecord::Verdict::Complete:
        return Complete;
    case RunRecord::Verdict::Damaged:
        return Damaged;
    case RunRecord::Verdict::StopsShort:
        return StopsShort;
    case RunRecord::Verdict::Unfinished:
        return NotComplete;
    case RunRecord::Verdict::NotKnown:
        break;
    }
    return NotKnown;
}

} // namespace ExitCode
