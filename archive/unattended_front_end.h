#pragma once
/**
 * @file
 * The imaging engine's front end when no one is there to click: the
 * block-size question is answered beforehand (Yes or No), each block's
 * progress goes to whoever shows it, and a stop signal ends the run after
 * the block in hand the way the window's exit question does, by clearing
 * the run flag.
 */
#include "tape/imaging_driver.h"

#include <functional>

class UnattendedFrontEnd : public Imaging::ImagingFrontEnd
{
public:
    using Progress = std::function<void(const Imaging::BlockStep &step)>;

    UnattendedFrontEnd(bool answerYes, Progress progress);

    Imaging::Answer askLargerBlockSize() override;
    void refuseBlockSize() override;
    void showProgress(const Imaging::BlockStep &step) override;

    /// The block length that brought up the question or the refusal.
    quint32 offendingLength() const { return m_offendingLength; }
    /// "yes" or "no" once the question was put, else empty.
    QString answer() const { return m_answer; }
    /// A stop signal cleared the run flag: the trailer the engine wrote does not end a whole image.
    bool stopped() const { return m_stopped; }

private:
    bool m_answerYes;
    Progress m_progress;
    quint32 m_offendingLength = 0;
    QString m_answer;
    bool m_stopped = false;
};
