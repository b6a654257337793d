#pragma once
/**
 * @file
 * The progress of a run on stderr, with what people expect of a copying tool:
 * percent, bytes done, the current rate, the time left and the tape file
 * being read. On a terminal one line is rewritten a few times a second; in a
 * log there is one line per new percentage.
 */
#include <QElapsedTimer>
#include <QString>
#include <QVector>

class ProgressLine
{
public:
    explicit ProgressLine(bool terminal);

    /**
     * The run has done @p done of @p total (blocks, or bytes; a total of 0 is unknown)
     * and read @p bytes of data, in tape file @p file. Cheap when nothing is due.
     */
    void update(quint64 done, quint64 total, quint64 bytes, int file);

    /// Ends the display; a complete run shows 100 % once more if it ended short of it.
    void finish(bool complete);

    /// Before a message: a bar on the terminal is taken off its line.
    void clear();

private:
    struct Sample
    {
        qint64 ms;
        quint64 bytes;
        double fraction;
    };

    void print(int percent, double fraction, quint64 bytes, int file);
    QString rateAndTimeLeft(double fraction, quint64 bytes);

    bool m_terminal;
    QElapsedTimer m_clock;
    qint64 m_shownAt = -1;
    int m_shownPercent = -1;
    bool m_barShown = false;
    int m_lastFile = 1;
    quint64 m_lastBytes = 0;
    QVector<Sample> m_samples; ///< a few seconds of history, for the current rate
};
