#pragma once
/**
 * @file
 * CloseHandle for every kind of handle the layer hands out. As on Windows one
 * call closes any kernel object; each backend registers how its handles are
 * closed when it creates them.
 */
#include "platform/win32_types.h"

/// Closes one handle of a backend; returns TRUE on success.
using HandleCloser = BOOL (*)(HANDLE);

/// Records that @p handle is closed by @p closer. Called by the backends.
void registerHandle(HANDLE handle, HandleCloser closer);

/**
 * Closes @p handle with the closer registered for it and forgets it.
 * An unknown handle fails with ERROR_INVALID_HANDLE.
 */
BOOL CloseHandle(HANDLE handle);
