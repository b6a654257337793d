#pragma once
/**
 * @file
 * The imaging engine's front end on a terminal: the block-size question is
 * answered by --yes (Yes) or its absence (No), the progress goes to the
 * progress line, and a stop signal ends the run after the block in hand the
 * way the window's exit question does, by clearing the run flag.
 */
#include "tape/imaging_driver.h"

class ProgressLine;
class TapeLog;

class TerminalFrontEnd : public Imaging::ImagingFrontEnd
{
public:
    TerminalFrontEnd(bool answerYes, ProgressLine &progress, const TapeLog &log);

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
    ProgressLine &m_progress;
    const TapeLog &m_log;
    quint32 m_offendingLength = 0;
    QString m_answer;
    bool m_stopped = false;
};
