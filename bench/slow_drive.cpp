// slow-drive: what waiting on a slow drive costs the GUI thread. Runs BLOCKS workers
// that each take MS milliseconds (a drive reading one block) through runAndWait(),
// with the menu animation's 15 ms timer running, and prints the wall time, the
// processor time the process used and the timer's ticks.
//
//   slow-drive [BLOCKS] [MS]          defaults: 30 blocks of 100 ms
#include "tape/run_and_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

class SlowRead : public QThread
{
public:
    explicit SlowRead(int ms)
        : m_ms(ms)
    {
    }

protected:
    void run() override { QThread::msleep(static_cast<unsigned long>(m_ms)); }

private:
    int m_ms;
};

double processorSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int blocks = argc > 1 ? std::atoi(argv[1]) : 30;
    const int ms = argc > 2 ? std::atoi(argv[2]) : 100;
    int ticks = 0;
    QTimer animation;
    QObject::connect(&animation, &QTimer::timeout, [&ticks] { ++ticks; });
    animation.start(15);

    QElapsedTimer wall;
    wall.start();
    const double before = processorSeconds();
    for (int i = 0; i < blocks; ++i) {
        SlowRead read(ms);
        runAndWait(read);
    }
    const double cpu = processorSeconds() - before;
    const double seconds = double(wall.elapsed()) / 1000.0;
    std::printf("%d blocks of %d ms: %.2f s, processor %.3f s (%.1f %% of one core), "
                "%d timer ticks of %d expected\n",
        blocks, ms, seconds, cpu, 100.0 * cpu / seconds, ticks, int(seconds * 1000 / 15));
    return 0;
}
