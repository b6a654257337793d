#include "archive/unattended_front_end.h"

#include "imaging/imaging_state.h"
#include "platform/posix/stop_signals.h"

#include <utility>

UnattendedFrontEnd::UnattendedFrontEnd(bool answerYes, Progress progress)
    : m_answerYes(answerYes)
    , m_progress(std::move(progress))
{
}

Imaging::Answer UnattendedFrontEnd::askLargerBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
    m_answer = m_answerYes ? QStringLiteral("yes") : QStringLiteral("no");
    return m_answerYes ? Imaging::Answer::Yes : Imaging::Answer::No;
}

void UnattendedFrontEnd::refuseBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
}

void UnattendedFrontEnd::showProgress(const Imaging::BlockStep &step)
{
    if (StopSignals::received() && ImagingState::runFlag) {
        ImagingState::runFlag = false;
        m_stopped = true;
    }
    if (m_progress)
        m_progress(step);
}
