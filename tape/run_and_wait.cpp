#include "tape/run_and_wait.h"

#include <QCoreApplication>
#include <QThread>

void runAndWait(QThread &worker)
{
    worker.start(QThread::InheritPriority);
    // No sleep and no wait primitive: the loop is what keeps the window alive.
    // The yield matters when the worker has to share a core with this loop (a
    // busy machine): without it the worker waits out our whole time slice for
    // every block, and a fast drive stops streaming.
    while (!worker.isFinished()) {
        QCoreApplication::processEvents();
        QThread::yieldCurrentThread();
    }
}
