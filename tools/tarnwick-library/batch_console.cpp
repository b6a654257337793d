#include "tools/tarnwick-library/batch_console.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr qint64 kTerminalMs = 500;
constexpr qint64 kLogMs = 10 * 1000;

} // namespace

BatchConsole::BatchConsole()
    : m_terminal(::isatty(2) == 1)
{
    m_clock.start();
}

void BatchConsole::write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void BatchConsole::clear()
{
    if (m_shownLines > 0)
        write(QStringLiteral("\x1b[%1F\x1b[J").arg(m_shownLines));
    m_shownLines = 0;
}

void BatchConsole::say(const QString &message)
{
    clear();
    write(QStringLiteral("tarnwick-library: ") + message + QLatin1Char('\n'));
    if (m_terminal && !m_lastLines.isEmpty()) {
        write(m_lastLines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        m_shownLines = m_lastLines.size();
    }
}

void BatchConsole::progress(const QStringList &lines)
{
    const qint64 now = m_clock.elapsed();
    const qint64 every = m_terminal ? kTerminalMs : kLogMs;
    if (lines == m_lastLines || (m_shownAt >= 0 && now - m_shownAt < every))
        return;
    m_shownAt = now;
    m_lastLines = lines;
    clear();
    write(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    if (m_terminal)
        m_shownLines = lines.size();
}
