#pragma once
/**
 * @file
 * One imaging run from the tape to the image file: space to the end of data,
 * rewind, read every block on a worker thread, write it as a record, append
 * the trailer. The parts that talk to the user (the block-size question, the
 * refusal, the progress) go through ImagingFrontEnd, so the main window and a
 * terminal tool run the same engine.
 *
 * Everything is read from and left in the shared imaging state: the tape
 * handle, block-size text, image path and run flag going in; block count,
 * total bytes, bytes done, chosen block size and last read length coming out.
 */
#include "imaging/imaging_engine.h"

#include <QString>

namespace Imaging {

/// How a run ended.
enum class RunOutcome {
    Completed, ///< trailer written and file closed: the image is complete
    Abandoned, ///< the block size was declined or refused: records so far, no trailer
    PositionUnknown, ///< the drive did not report its position: no image file is left behind
    FileNotCreated, ///< the image file could not be created: nothing written
    WriteFailed, ///< a write to the image file failed (disk full): what was written is kept
};

/// What the driver needs from whoever shows the run to the user.
class ImagingFrontEnd
{
public:
    virtual ~ImagingFrontEnd() = default;

    /// A run is about to open the image file; prepare the question for this run.
    virtual void prepareQuestion() { }
    /// A block is shorter than the fixed size chosen: go on with padding?
    virtual Answer askLargerBlockSize() = 0;
    /// A block is longer than the fixed size chosen; the run is abandoned when this returns.
    virtual void refuseBlockSize() = 0;
    /// The file is open and reading is about to start.
    virtual void resetProgress() { }
    /// A block was written and the run goes on; called once per block.
    virtual void showProgress(const BlockStep &step) = 0;
};

/// Spaces to the end of data, takes the block count from the position and runs imageTape().
RunOutcome createImage(ImagingFrontEnd &frontEnd);

/// The imaging run proper, with the block count already known.
RunOutcome imageTape(ImagingFrontEnd &frontEnd);

/// Media query: total bytes := capacity - remaining. A failed query keeps the previous
/// values and returns false.
bool queryMedia();

} // namespace Imaging
