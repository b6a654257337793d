#include "tools/tarnwick-image/terminal_front_end.h"

#include "archive/tape_log.h"
#include "imaging/imaging_state.h"
#include "platform/posix/stop_signals.h"
#include "tools/tarnwick-image/progress_line.h"

TerminalFrontEnd::TerminalFrontEnd(bool answerYes, ProgressLine &progress, const TapeLog &log)
    : m_answerYes(answerYes)
    , m_progress(progress)
    , m_log(log)
{
}

Imaging::Answer TerminalFrontEnd::askLargerBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
    m_answer = m_answerYes ? QStringLiteral("yes") : QStringLiteral("no");
    return m_answerYes ? Imaging::Answer::Yes : Imaging::Answer::No;
}

void TerminalFrontEnd::refuseBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
}

void TerminalFrontEnd::showProgress(const Imaging::BlockStep &step)
{
    if (StopSignals::received() && ImagingState::runFlag) {
        ImagingState::runFlag = false;
        m_stopped = true;
    }
    m_progress.update(quint64(step.progressValue), step.percentKnown ? ImagingState::blockCount : 0,
        m_log.recordBytes(), m_log.fileNumber());
}
