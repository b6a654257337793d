#pragma once
/**
 * @file
 * How the GUI thread waits for a worker: it keeps processing every event
 * (repaints, clicks, the menu animation, a modal dialog) until the worker has
 * finished, then reads the worker's results from the shared imaging state.
 */
class QThread;

/**
 * Starts @p worker with the GUI thread's priority and processes events until
 * it has finished. A worker that finishes before the first test is not
 * waited for and no event is processed.
 */
void runAndWait(QThread &worker);
