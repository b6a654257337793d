#pragma once
/**
 * @file
 * The decisions of an imaging run, without tape, file or widgets: given the
 * length of each block read, what record to write, when to ask whether a
 * larger block size is wanted, when to refuse, and when the run is over.
 *
 * The engine works on the shared imaging state (chosen block size, last read
 * length, total bytes, bytes done, block count, abort flag), as the window and
 * the workers do, so the state the rest of the program sees stays the same
 * whichever front end drives it.
 */
#include "platform/backend/win32_types.h"

#include <QString>
#include <QtGlobal>

#include <functional>

namespace Imaging {

/// The user's answer to the larger-block-size question.
enum class Answer {
    Yes, ///< go on, padding shorter blocks to the chosen size
    No, ///< give the run up
    Closed, ///< no answer (e.g. Escape): ask again at the next shorter block
};

/// What becomes of one block.
enum class BlockDecision {
    Write, ///< write a record of recordLength bytes
    Abandon, ///< the user declined the larger block size
    Refuse, ///< the block is longer than the chosen size: the run cannot go on
};

/// The engine's answer for one block.
struct BlockStep
{
    BlockDecision decision = BlockDecision::Write;
    bool asked = false; ///< the question was put for this block
    DWORD recordLength = 0; ///< bytes of the read buffer that form the record
    DWORD clearLength = 0; ///< bytes of the read buffer to zero after writing
    bool endAfterWrite = false; ///< the last counted block: no progress shown, trailer next
    int progressMaximum = 0; ///< the progress bar's range is 0 .. this
    qint64 progressValue = 0; ///< blocks read so far
    bool percentKnown = false; ///< false when the tape reported no blocks (denominator 0)
    qint64 percent = 0;
    bool endAfterProgress = false; ///< bytes done reached the total bytes
};

class ImagingEngine
{
public:
    /// @p blockSizeText is "Auto" or a decimal size, as the block-size list holds it.
    explicit ImagingEngine(const QString &blockSizeText);

    /// Starts the block loop at the tape position after the rewind.
    /// Returns true when there is nothing to read (position not below the total bytes).
    bool start(quint64 positionAfterRewind);

    /// Decides about one block of @p readLength bytes. @p ask is called (at
    /// most once per block) when the block is shorter than a fixed size that
    /// the user has not yet accepted.
    BlockStep nextBlock(DWORD readLength, const std::function<Answer()> &ask);

    bool isAuto() const { return m_auto; }
    quint64 blocksRead() const { return m_blocksRead; }
    bool answered() const { return m_answered; }

    /// The trailer's two numbers: the tape's block length and the record length.
    static DWORD trailerTapeBlockLength();
    static DWORD trailerBlockSize();

private:
    /// Sets the chosen block size from the list choice; returns false to stop.
    bool chooseSize(DWORD readLength, BlockStep &step, const std::function<Answer()> &ask);

    bool m_auto = true;
    DWORD m_fixedSize = 0;
    bool m_answered = false;
    bool m_firstSeen = false;
    DWORD m_firstLength = 0;
    quint64 m_denominator = 0;
    quint64 m_blocksRead = 0;
    quint64 m_numerator = 0;
};

} // namespace Imaging
