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
 * it has finished, sleeping on the worker for at most a millisecond between
 * rounds (so a slow drive does not keep a processor busy). A worker that finishes before the first test is not
 * waited for and no event is processed.
 */
void runAndWait(QThread &worker);
