#include "tape/run_and_wait.h"

#include <QCoreApplication>
#include <QThread>

void runAndWait(QThread &worker)
{
    worker.start(QThread::InheritPriority);
    // No sleep and no wait primitive: the loop is what keeps the window alive.
    while (!worker.isFinished())
        QCoreApplication::processEvents();
}
