#pragma once
/**
 * @file
 * The named mutex of the single-instance guard, and the folder that keeps a
 * user's named objects private. On Linux a named mutex is an exclusive flock on
 * a lock file in that folder: the kernel drops the lock when the holder exits
 * or is killed, just as Windows abandons a dead owner's mutex.
 *
 * Windows gives every logon session its own namespace for named objects. Here
 * the folder plays that part: "tarnwick" in $XDG_RUNTIME_DIR (the user's
 * runtime folder) or, without one, "tarnwick-<uid>" in the temporary folder
 * ($TMPDIR, else /tmp). It is made with mode 0700, and a folder that is not
 * the user's own (another user made it first, it is a link, others may enter
 * it) is refused, so no other user can hold, fake or block these objects.
 */
#include "platform/backend/win32_types.h"

#include <QString>

/**
 * Opens the mutex called @p name, taking ownership when @p initialOwner is
 * TRUE. When another process owns it already, the handle is still returned
 * (without ownership) and GetLastError() reports ERROR_ALREADY_EXISTS, as on
 * Windows; otherwise the last error is ERROR_SUCCESS. Returns nullptr with
 * ERROR_ACCESS_DENIED when the lock file cannot be made in a private folder.
 * CloseHandle() releases ownership. @p securityAttributes is accepted and
 * ignored (the folder is private to the user).
 */
HANDLE CreateMutexW(LPVOID securityAttributes, BOOL initialOwner, LPCWSTR name);

/**
 * The user's private folder for named objects, made when missing. Empty when
 * none can be used; @p problem (when given) then says why, naming the folder.
 */
QString namedObjectFolder(QString *problem = nullptr);

/// The lock file behind the mutex @p name: "<name>.lock" in namedObjectFolder(); empty without one.
QString mutexLockFilePath(const QString &name);
