#pragma once
/**
 * @file
 * The imaging engine's front end on a terminal: the block-size question is
 * answered by --yes (Yes) or its absence (No), and the progress goes to
 * stderr, as a bar on a terminal and as plain lines ("45%") in a log.
 */
#include "imaging/imaging_driver.h"

class TerminalFrontEnd : public Imaging::ImagingFrontEnd
{
public:
    TerminalFrontEnd(bool answerYes, bool drawBar);

    Imaging::Answer askLargerBlockSize() override;
    void refuseBlockSize() override;
    void showProgress(const Imaging::BlockStep &step) override;

    /// Ends the progress display, so that what follows starts on a line of its own.
    void finish(bool complete);

    /// The block length that brought up the question or the refusal.
    quint32 offendingLength() const { return m_offendingLength; }

private:
    void print(qint64 percent);

    bool m_answerYes;
    bool m_drawBar;
    bool m_barShown = false;
    qint64 m_shownPercent = -1;
    quint32 m_offendingLength = 0;
};
