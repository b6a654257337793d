#include "platform/win32_handle.h"

#include "platform/win32_error.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex registryLock;

QHash<HANDLE, HandleCloser> &closers()
{
    static QHash<HANDLE, HandleCloser> table;
    return table;
}
} // namespace

void registerHandle(HANDLE handle, HandleCloser closer)
{
    QMutexLocker locker(&registryLock);
    closers().insert(handle, closer);
}

BOOL CloseHandle(HANDLE handle)
{
    HandleCloser closer = nullptr;
    {
        QMutexLocker locker(&registryLock);
        closer = closers().take(handle);
    }
    if (!closer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return closer(handle);
}
