#pragma once
/**
 * @file
 * The Windows commands the system starts as processes, as Linux commands:
 * "TaskKill /f /PID <pid>" becomes "kill -KILL <pid>" and the shut-down
 * command becomes "systemctl poweroff".
 */
#include <QString>
#include <QStringList>
#include <functional>

/// How long TaskKill waits for the command to finish, as the exit question expects.
constexpr int kTaskKillTimeoutMs = 30000;

/**
 * Forcibly ends the process @p pid: starts "kill -KILL <pid>" and waits up to
 * @p timeoutMs for it to finish. Returns false when the command could not be
 * started or did not finish in time, or when @p pid names no single process
 * (0 or less). Killing the own process does not return.
 */
bool TaskKill(qint64 pid, int timeoutMs = kTaskKillTimeoutMs);

/// Starts a program detached from this process; true when it was started.
using DetachedStarter = std::function<bool(const QString &program, const QStringList &arguments)>;

/**
 * Replaces how detached commands are started (the shut-down command among
 * them), so tests can record them instead of turning the machine off.
 * An empty function restores the real starter.
 */
void setDetachedStarter(DetachedStarter starter);

/// Starts @p program with @p arguments detached, through the current starter.
bool startDetached(const QString &program, const QStringList &arguments);

/// Turns the computer off: "systemctl poweroff", started detached.
bool ShutdownComputer();
