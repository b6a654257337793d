#pragma once
/**
 * @file
 * Layer tape/ (library tarnwick_tape): the workers and the imaging driver. Uses
 * imaging/ and the platform layers.
 *
 * The worker threads that run the blocking tape calls, one call per worker,
 * while the GUI thread keeps processing events (see runAndWait()). They read
 * and write the shared imaging state; the GUI thread reads their results only
 * after isFinished() is true.
 *
 * Each carries a mutex and a wait condition; nothing locks or waits on them,
 * but the destructor wakes one waiter before it waits for the thread.
 */
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

/// Loads the tape: PrepareTape(TAPE_LOAD), up to four calls while it fails. Writes the load status.
class MyThread : public QThread
{
    Q_OBJECT
public:
    explicit MyThread(QObject *parent = nullptr);
    ~MyThread() override;

protected:
    void run() override;

private:
    QMutex mutex;
    QWaitCondition condition;
};

/// Reads one block of up to 524,289 bytes into the read buffer. Writes the last read length.
class MyThreadone : public QThread
{
    Q_OBJECT
public:
    explicit MyThreadone(QObject *parent = nullptr);
    ~MyThreadone() override;

protected:
    void run() override;

private:
    QMutex mutex;
    QWaitCondition condition;
};

/// Spaces to the end of the recorded data.
class MyThreadtwo : public QThread
{
    Q_OBJECT
public:
    explicit MyThreadtwo(QObject *parent = nullptr);
    ~MyThreadtwo() override;

protected:
    void run() override;

private:
    QMutex mutex;
    QWaitCondition condition;
};

/// Rewinds to the first block.
class MyThreadthree : public QThread
{
    Q_OBJECT
public:
    explicit MyThreadthree(QObject *parent = nullptr);
    ~MyThreadthree() override;

protected:
    void run() override;

private:
    QMutex mutex;
    QWaitCondition condition;
};
