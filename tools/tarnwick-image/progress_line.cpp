#include "tools/tarnwick-image/progress_line.h"

#include "imaging/size_text.h"
#include "tools/tarnwick-image/console.h"

namespace {

constexpr int kBarWidth = 30;
constexpr qint64 kRedrawMs = 250; ///< how often a terminal line is rewritten
constexpr qint64 kRateWindowMs = 3000; ///< the current rate is over about this long

QString duration(double seconds)
{
    const qint64 whole = qint64(seconds + 0.5);
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ProgressLine::ProgressLine(bool terminal)
    : m_terminal(terminal)
{
    m_clock.start();
}

void ProgressLine::update(quint64 done, quint64 total, quint64 bytes, int file)
{
    m_lastFile = file;
    m_lastBytes = bytes;
    const double fraction = total > 0 ? double(done) / double(total) : -1.0;
    const int percent = total > 0 ? int(qMin<quint64>(100 * done / total, 100)) : -1;
    if (!m_terminal) {
        // A log gets a line per new percentage; printing costs more than a block.
        if (percent > m_shownPercent)
            print(percent, fraction, bytes, file);
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (m_shownAt < 0 || now - m_shownAt >= kRedrawMs || percent > m_shownPercent)
        print(percent, fraction, bytes, file);
}

QString ProgressLine::rateAndTimeLeft(double fraction, quint64 bytes)
{
    const qint64 now = m_clock.elapsed();
    m_samples.append({ now, bytes, fraction });
    while (m_samples.size() > 2 && now - m_samples[1].ms >= kRateWindowMs)
        m_samples.removeFirst();
    const Sample &then = m_samples.first();
    const double seconds = double(now - then.ms) / 1000.0;
    if (seconds < 0.2)
        return QString();
    QString text
        = QStringLiteral(", %1/s").arg(SizeText::human(double(bytes - then.bytes) / seconds));
    const double gained = fraction - then.fraction;
    if (fraction >= 0 && gained > 0)
        text += QStringLiteral(", %1 left").arg(duration((1.0 - fraction) * seconds / gained));
    return text;
}

void ProgressLine::print(int percent, double fraction, quint64 bytes, int file)
{
    m_shownAt = m_clock.elapsed();
    m_shownPercent = qMax(m_shownPercent, percent);
    const QString figures = SizeText::human(double(bytes)) + rateAndTimeLeft(fraction, bytes)
        + QStringLiteral(", tape file %1").arg(file);
    const QString shownPercent
        = percent >= 0 ? QString::number(percent) + QLatin1Char('%') : QStringLiteral("?%");
    if (!m_terminal) {
        Console::raw(shownPercent + QLatin1Char(' ') + figures + QLatin1Char('\n'));
        return;
    }
    const int filled = percent >= 0 ? percent * kBarWidth / 100 : 0;
    // Blanks at the end wipe what a longer line before left on screen.
    Console::raw(QStringLiteral("\r[") + QString(filled, QLatin1Char('#'))
        + QString(kBarWidth - filled, QLatin1Char('.')) + QStringLiteral("] ")
        + shownPercent.rightJustified(4) + QStringLiteral("  ") + figures + QStringLiteral("    "));
    m_barShown = true;
}

void ProgressLine::finish(bool complete)
{
    if (complete && m_shownPercent >= 0 && m_shownPercent < 100)
        print(100, 1.0, m_lastBytes, m_lastFile);
    clear();
}

void ProgressLine::clear()
{
    if (m_barShown)
        Console::raw(QStringLiteral("\n"));
    m_barShown = false;
}
