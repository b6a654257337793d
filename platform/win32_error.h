#pragma once
/**
 * @file
 * The per-thread last-error value of the Win32-named layer. Every call of the
 * layer that fails (and CreateMutexW, which also reports "already exists" on
 * success) leaves a Windows error code here, as Windows does per thread.
 */
#include "platform/win32_types.h"

/// The error code the last failing call of this thread left; 0 after none.
DWORD GetLastError();

/// Sets this thread's last-error value.
void SetLastError(DWORD errorCode);
