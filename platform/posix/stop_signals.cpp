#include "platform/posix/stop_signals.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

namespace StopSignals {

namespace {

std::atomic<int> caught { 0 };
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void remember(int signal)
{
    int none = 0;
    caught.compare_exchange_strong(none, signal); // the first one tells what happened
}

} // namespace

void install()
{
    struct sigaction action = {};
    action.sa_handler = remember;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // a tape read goes on; the run stops between blocks
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int received()
{
    return caught.load();
}

void endBy(int signal)
{
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // should the default action be to go on
}

QString name(int signal)
{
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    case SIGKILL:
        return QStringLiteral("SIGKILL");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace StopSignals
