#include "tape/imaging_driver.h"

#include "imaging/image_file.h"
#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"
#include "tape/run_and_wait.h"
#include "tape/tape_workers.h"

#include <QFile>

#include <limits>

#include <cstdio>
#include <cstring>
#include <memory>

namespace Imaging {

namespace {

// A fast drive streams only while each block leaves the GUI thread quickly. A 64 KiB stream
// buffer gathers small blocks into 64 KiB writes; for large blocks it measured as fast as
// 1 and 4 MiB buffers, and it stays within the processor's caches.
constexpr std::size_t kStreamBuffer = 64u << 10;

/// Where the drive says it is; false when it does not say (the outputs are then undefined).
bool readPosition(quint64 &position)
{
    DWORD partition = 0;
    DWORD offsetLow = 0;
    DWORD offsetHigh = 0;
    if (GetTapePosition(
            ImagingState::tapeHandle, TAPE_ABSOLUTE_POSITION, &partition, &offsetLow, &offsetHigh)
        != NO_ERROR) {
        GetLastError(); // the code itself tells the user nothing more
        return false;
    }
    position = offsetLow; // offset low only, zero-extended
    return true;
}

/// The image file and read buffer of one run; closes and releases whatever is left.
class RunResources
{
public:
    ~RunResources()
    {
        close();
        delete[] ImagingState::readBuffer;
        ImagingState::readBuffer = nullptr;
    }

    bool open(const QString &path)
    {
        m_file = ImageFile::openForWriting(path);
        if (!m_file)
            return false;
        m_streamBuffer.reset(new char[kStreamBuffer]);
        std::setvbuf(m_file, m_streamBuffer.get(), _IOFBF, kStreamBuffer);
        ImagingState::readBuffer = new unsigned char[ImagingState::kReadLength]();
        return true;
    }

    std::FILE *file() const { return m_file; }

    /// False when the stream had failed or the last of the buffer could not be written.
    bool close()
    {
        if (!m_file)
            return true;
        const bool streamFailed = std::ferror(m_file) != 0;
        const bool closeFailed = std::fclose(m_file) != 0;
        m_file = nullptr;
        return !streamFailed && !closeFailed;
    }

private:
    std::FILE *m_file = nullptr;
    std::unique_ptr<char[]> m_streamBuffer; // must outlive the stream
};

bool writeRecord(std::FILE *file, const BlockStep &step)
{
    const std::size_t written = std::fwrite(ImagingState::readBuffer, 1, step.recordLength, file);
    std::memset(ImagingState::readBuffer, 0, step.clearLength);
    return written == step.recordLength && !std::ferror(file);
}

/// The block loop. Returns Completed when the trailer is due.
RunOutcome readBlocks(ImagingFrontEnd &frontEnd, ImagingEngine &engine, std::FILE *file)
{
    const auto ask = [&frontEnd] { return frontEnd.askLargerBlockSize(); };
    while (ImagingState::runFlag) {
        {
            MyThreadone reader;
            runAndWait(reader);
        }
        const BlockStep step = engine.nextBlock(ImagingState::lastReadLength, ask);
        if (step.decision == BlockDecision::Refuse)
            frontEnd.refuseBlockSize();
        if (step.decision != BlockDecision::Write)
            return RunOutcome::Abandoned;
        if (!writeRecord(file, step))
            return RunOutcome::WriteFailed;
        if (step.endAfterWrite)
            break;
        frontEnd.showProgress(step);
        if (step.endAfterProgress)
            break;
    }
    return RunOutcome::Completed;
}

} // namespace

bool queryMedia()
{
    TAPE_GET_MEDIA_PARAMETERS media {};
    DWORD size = sizeof(media);
    if (GetTapeParameters(ImagingState::tapeHandle, GET_TAPE_MEDIA_INFORMATION, &size, &media)
        != NO_ERROR) {
        GetLastError(); // keep the figures of the last query that worked
        return false;
    }
    ImagingState::mediaCapacity = media.Capacity.QuadPart;
    ImagingState::mediaRemaining = media.Remaining.QuadPart;
    ImagingState::totalBytes = ImagingState::mediaCapacity - ImagingState::mediaRemaining;
    return true;
}

RunOutcome createImage(ImagingFrontEnd &frontEnd)
{
    {
        MyThreadtwo spacer;
        runAndWait(spacer);
    }
    quint64 endOfData = 0;
    // Without a position the block count would be a guess; a guessed count would end the
    // run early or late and still call the image complete, so no run starts.
    if (!readPosition(endOfData))
        return RunOutcome::PositionUnknown;
    ImagingState::blockCount = endOfData - 1; // end of data at block 0 wraps to 2^64 - 1
    return imageTape(frontEnd);
}

RunOutcome imageTape(ImagingFrontEnd &frontEnd)
{
    ImagingState::bytesDone = 0;
    if (!queryMedia()) {
        // Figures left from an earlier query (or none at all) could end the run before
        // the first block and still call the image complete. Without figures, the
        // run's own end rules decide: every block read sets the total anew.
        ImagingState::totalBytes = std::numeric_limits<qint64>::max();
    }
    frontEnd.prepareQuestion();

    RunResources run;
    if (!run.open(ImagingState::imagePath))
        return RunOutcome::FileNotCreated;
    frontEnd.resetProgress();

    ImagingEngine engine(ImagingState::blockSizeText);
    RunOutcome outcome = RunOutcome::Completed;
    if (ImagingState::runFlag) {
        MyThreadthree rewinder;
        runAndWait(rewinder);
        quint64 start = 0;
        if (!readPosition(start)) {
            // The file was created a moment ago and holds nothing: leave no empty image behind.
            run.close();
            QFile::remove(ImagingState::imagePath);
            return RunOutcome::PositionUnknown;
        }
        if (!engine.start(start))
            outcome = readBlocks(frontEnd, engine, run.file());
    }
    if (outcome == RunOutcome::Abandoned)
        return outcome; // the chosen block size stays, as the block-size list expects

    if (outcome == RunOutcome::Completed
        && !ImageFile::writeTrailer(
            run.file(), ImagingEngine::trailerTapeBlockLength(), ImagingEngine::trailerBlockSize()))
        outcome = RunOutcome::WriteFailed;
    // Closing flushes the stream buffer, so a full disk often shows only here.
    if (!run.close())
        outcome = RunOutcome::WriteFailed;
    ImagingState::chosenBlockSize = 0;
    return outcome;
}

} // namespace Imaging
