#include "tape/run_and_wait.h"

#include <QCoreApplication>
#include <QThread>

namespace {

// Between two rounds of events the GUI thread sleeps on the worker, not on the
// processor: a slow drive then costs next to nothing while it reads, a finished
// worker wakes the loop at once, and nothing waits longer than this for its turn.
constexpr unsigned long kRoundMs = 1;

} // namespace

void runAndWait(QThread &worker)
{
    worker.start(QThread::InheritPriority);
    // The loop is what keeps the window alive: repaints, clicks, the menu
    // animation and a modal dialog all run inside processEvents().
    while (!worker.isFinished()) {
        QCoreApplication::processEvents();
        worker.wait(kRoundMs);
    }
}
