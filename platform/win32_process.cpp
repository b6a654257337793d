#include "platform/win32_process.h"

#include <QProcess>

namespace {

DetachedStarter &currentStarter()
{
    static DetachedStarter starter;
    return starter;
}

} // namespace

bool TaskKill(qint64 pid, int timeoutMs)
{
    // kill(1) reads 0 and negative numbers as process groups (-1: every process).
    if (pid <= 0)
        return false;
    QProcess kill;
    kill.start(QStringLiteral("kill"), { QStringLiteral("-KILL"), QString::number(pid) },
        QIODevice::ReadWrite);
    return kill.waitForFinished(timeoutMs) && kill.exitStatus() == QProcess::NormalExit
        && kill.exitCode() == 0;
}

void setDetachedStarter(DetachedStarter starter)
{
    currentStarter() = std::move(starter);
}

bool startDetached(const QString &program, const QStringList &arguments)
{
    if (currentStarter())
        return currentStarter()(program, arguments);
    return QProcess::startDetached(program, arguments);
}

bool ShutdownComputer()
{
    return startDetached(QStringLiteral("systemctl"), { QStringLiteral("poweroff") });
}
