#pragma once
/**
 * @file
 * The batch's messages and progress on stderr: on a terminal the progress
 * lines (one per drive at work, then the overall one) are rewritten in place
 * and a message is printed above them; in a log they are printed at most
 * every few seconds, when they changed.
 */
#include <QElapsedTimer>
#include <QStringList>

class BatchConsole
{
public:
    BatchConsole();
    void say(const QString &message);
    void progress(const QStringList &lines);
    /// Takes the progress lines off a terminal, before the program's last words.
    void clear();

private:
    void write(const QString &text);

    bool m_terminal;
    QElapsedTimer m_clock;
    qint64 m_shownAt = -1;
    int m_shownLines = 0; ///< progress lines on the terminal now
    QStringList m_lastLines;
};
