#pragma once
/**
 * @file
 * Handles, CloseHandle and the per-thread last error of the platform layer.
 *
 * A HANDLE is the address of a HandleObject that the layer created. Every
 * object is entered in a process-wide table while it is open, so that a call
 * on a stale, closed or made-up handle (0, INVALID_HANDLE_VALUE, a handle
 * closed before) fails with ERROR_INVALID_HANDLE instead of touching freed
 * memory. Any kind of object (a tape, a single-instance lock) can live
 * behind a handle by deriving from HandleObject.
 */
#include "platform/backend/win32_types.h"

#include <memory>

/// Base of everything the layer hands out as a HANDLE.
class HandleObject
{
public:
    virtual ~HandleObject() = default;
};

/// Takes ownership of @p object and returns its handle (never INVALID_HANDLE_VALUE).
HANDLE registerHandle(std::unique_ptr<HandleObject> object);

/**
 * The object behind @p handle, or null when the handle is not open.
 * The pointer stays valid until CloseHandle; a handle must not be closed
 * while another thread uses it (the program never does: one worker at a time).
 */
HandleObject *lookupHandle(HANDLE handle);

/// Closes and destroys the object. FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL CloseHandle(HANDLE handle);

/// The calling thread's last error code (a Windows error code).
DWORD GetLastError();

/// Sets the calling thread's last error code.
void SetLastError(DWORD error);
