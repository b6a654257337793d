#include "platform/backend/win32_handles.h"

#include <mutex>
#include <unordered_map>

namespace {

thread_local DWORD lastError = NO_ERROR;

struct HandleTable
{
    std::mutex mutex;
    std::unordered_map<HANDLE, std::unique_ptr<HandleObject>> objects;
};

HandleTable &handleTable()
{
    static HandleTable table;
    return table;
}

} // namespace

HANDLE registerHandle(std::unique_ptr<HandleObject> object)
{
    HandleTable &table = handleTable();
    const HANDLE handle = object.get();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.objects.emplace(handle, std::move(object));
    return handle;
}

HandleObject *lookupHandle(HANDLE handle)
{
    HandleTable &table = handleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.objects.find(handle);
    return it == table.objects.end() ? nullptr : it->second.get();
}

BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<HandleObject> object;
    {
        HandleTable &table = handleTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto it = table.objects.find(handle);
        if (it == table.objects.end()) {
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // Destroyed outside the lock: closing a drive may take a moment.
    object.reset();
    return TRUE;
}

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}
