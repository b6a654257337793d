#pragma once
/**
 * @file
 * An event dispatcher for threads that never run an event loop.
 *
 * QThread gives every thread it starts an event dispatcher; the platform's
 * default one (glib's) sets up a main context, wake-up descriptors and more,
 * which costs tens of microseconds. A read worker lives for one block, so at
 * fast-drive rates that set-up is a large share of each block's time. The tape
 * workers only make one blocking call and return, so they get this one,
 * which does nothing.
 */
#include <QAbstractEventDispatcher>

class NoEventLoopDispatcher final : public QAbstractEventDispatcher
{
public:
    bool processEvents(QEventLoop::ProcessEventsFlags) override { return false; }
    bool hasPendingEvents() override { return false; }
    void registerSocketNotifier(QSocketNotifier *) override { }
    void unregisterSocketNotifier(QSocketNotifier *) override { }
    void registerTimer(int, int, Qt::TimerType, QObject *) override { }
    bool unregisterTimer(int) override { return false; }
    bool unregisterTimers(QObject *) override { return false; }
    QList<TimerInfo> registeredTimers(QObject *) const override { return {}; }
    int remainingTime(int) override { return -1; }
    void wakeUp() override { }
    void interrupt() override { }
    void flush() override { }
};
