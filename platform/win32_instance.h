#pragma once
/**
 * @file
 * The named mutex of the single-instance guard. On Linux a named mutex is an
 * exclusive flock on a per-user lock file: the kernel drops the lock when the
 * holder exits or is killed, just as Windows abandons a dead owner's mutex.
 */
#include "platform/win32_types.h"

#include <QString>

/**
 * Opens the mutex called @p name, taking ownership when @p initialOwner is
 * TRUE. When another process owns it already, the handle is still returned
 * (without ownership) and GetLastError() reports ERROR_ALREADY_EXISTS, as on
 * Windows; otherwise the last error is ERROR_SUCCESS. Returns nullptr when the
 * lock file cannot be opened. CloseHandle() releases ownership.
 * @p securityAttributes is accepted and ignored (the file is private to the user).
 */
HANDLE CreateMutexW(LPVOID securityAttributes, BOOL initialOwner, LPCWSTR name);

/**
 * The lock file behind the mutex @p name: "<name>.lock" in $XDG_RUNTIME_DIR
 * (already per user), else "/tmp/<name>-<uid>.lock".
 */
QString mutexLockFilePath(const QString &name);
