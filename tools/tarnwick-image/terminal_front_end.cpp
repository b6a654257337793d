#include "tools/tarnwick-image/terminal_front_end.h"

#include "imaging/imaging_state.h"
#include "tools/tarnwick-image/console.h"

namespace {
constexpr int kBarWidth = 40;
}

TerminalFrontEnd::TerminalFrontEnd(bool answerYes, bool drawBar)
    : m_answerYes(answerYes)
    , m_drawBar(drawBar)
{
}

Imaging::Answer TerminalFrontEnd::askLargerBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
    return m_answerYes ? Imaging::Answer::Yes : Imaging::Answer::No;
}

void TerminalFrontEnd::refuseBlockSize()
{
    m_offendingLength = ImagingState::lastReadLength;
}

void TerminalFrontEnd::showProgress(const Imaging::BlockStep &step)
{
    // Printing costs far more than a block: only a new percentage is worth a line.
    if (!step.percentKnown || step.percent == m_shownPercent)
        return;
    m_shownPercent = step.percent;
    print(step.percent);
}

void TerminalFrontEnd::print(qint64 percent)
{
    if (!m_drawBar) {
        Console::raw(QString::number(percent) + QStringLiteral("%\n"));
        return;
    }
    const int filled = int(qBound<qint64>(0, percent, 100) * kBarWidth / 100);
    Console::raw(QStringLiteral("\r[") + QString(filled, QLatin1Char('#'))
        + QString(kBarWidth - filled, QLatin1Char('.')) + QStringLiteral("] ")
        + QString::number(percent).rightJustified(3) + QLatin1Char('%'));
    m_barShown = true;
}

void TerminalFrontEnd::finish(bool complete)
{
    // The last block ends the run without a progress step; a complete image is 100 %.
    if (complete && m_shownPercent >= 0 && m_shownPercent < 100)
        print(100);
    if (m_barShown)
        Console::raw(QStringLiteral("\n"));
    m_barShown = false;
}
