#include "imaging/imaging_engine.h"

#include "imaging/block_size.h"
#include "imaging/imaging_state.h"

#include <algorithm>

namespace Imaging {

namespace {
constexpr DWORD kDefaultRecordLength = 0x10000; ///< used when a run starts with no data
} // namespace

ImagingEngine::ImagingEngine(const QString &blockSizeText)
    : m_auto(blockSizeText == BlockSize::autoText())
    , m_fixedSize(m_auto ? 0 : static_cast<DWORD>(blockSizeText.toInt(nullptr, 10)))
{
}

bool ImagingEngine::start(quint64 positionAfterRewind)
{
    // The position only ever counts blocks; it stands in for bytes done here so that a
    // tape with nothing recorded (capacity equal to remaining) reads no block at all.
    ImagingState::bytesDone = static_cast<qint64>(positionAfterRewind);
    m_numerator = 0;
    m_blocksRead = 0;
    return ImagingState::bytesDone >= ImagingState::totalBytes;
}

bool ImagingEngine::chooseSize(
    DWORD readLength, BlockStep &step, const std::function<Answer()> &ask)
{
    if (m_auto) {
        ImagingState::chosenBlockSize = readLength;
        return true;
    }
    if (readLength > m_fixedSize) {
        ImagingState::abortFlag = true;
        step.decision = BlockDecision::Refuse;
        return false;
    }
    if (readLength < m_fixedSize && !m_answered) {
        step.asked = true;
        switch (ask()) {
        case Answer::No:
            ImagingState::abortFlag = true;
            step.decision = BlockDecision::Abandon;
            return false;
        case Answer::Yes:
            ImagingState::chosenBlockSize = m_fixedSize;
            m_answered = true;
            break;
        case Answer::Closed:
            break; // keep the size in force; the question comes again
        }
    } else if (readLength == m_fixedSize) {
        ImagingState::chosenBlockSize = readLength;
    }
    return true;
}

BlockStep ImagingEngine::nextBlock(DWORD readLength, const std::function<Answer()> &ask)
{
    BlockStep step;
    ImagingState::lastReadLength = readLength;
    if (!chooseSize(readLength, step, ask))
        return step;

    if (!m_firstSeen) {
        m_firstSeen = true;
        m_firstLength = readLength;
        m_denominator = ImagingState::blockCount;
    }
    if (ImagingState::chosenBlockSize == 0)
        ImagingState::chosenBlockSize = m_firstLength != 0 ? m_firstLength : kDefaultRecordLength;

    // Both products wrap in 64 bits on purpose: with end of data at block 0 the block
    // count is 2^64 - 1, the total turns negative and the run stops after one block.
    if (m_auto) {
        ImagingState::totalBytes = static_cast<qint64>(
            static_cast<quint64>(ImagingState::chosenBlockSize) * ImagingState::blockCount);
    } else {
        if (ImagingState::lastReadLength == 0)
            ImagingState::lastReadLength = kDefaultRecordLength;
        ImagingState::totalBytes = static_cast<qint64>(
            static_cast<quint64>(ImagingState::lastReadLength) * ImagingState::blockCount);
    }

    ImagingState::bytesDone += ImagingState::chosenBlockSize;
    ++m_blocksRead;
    m_numerator += 100;

    step.recordLength = ImagingState::chosenBlockSize;
    // Zero everything this block put in the buffer, not only the record: a block that
    // was longer than the size in force (the question closed unanswered) must not leave
    // its tail behind as the padding of a later, shorter block.
    step.clearLength = std::max(ImagingState::chosenBlockSize, readLength);
    step.progressMaximum = static_cast<int>(static_cast<quint32>(m_denominator));
    step.progressValue = static_cast<qint64>(m_blocksRead);

    step.endAfterWrite = m_blocksRead == m_denominator + 1;
    if (step.endAfterWrite)
        return step;
    step.percentKnown = m_denominator != 0;
    if (step.percentKnown)
        step.percent = static_cast<qint64>(m_numerator) / static_cast<qint64>(m_denominator);
    step.endAfterProgress = ImagingState::bytesDone >= ImagingState::totalBytes;
    return step;
}

DWORD ImagingEngine::trailerTapeBlockLength()
{
    return ImagingState::lastReadLength;
}

DWORD ImagingEngine::trailerBlockSize()
{
    return ImagingState::chosenBlockSize;
}

} // namespace Imaging
