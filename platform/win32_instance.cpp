#include "platform/win32_instance.h"

#include "platform/win32_handles.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class MutexObject : public HandleObject
{
public:
    explicit MutexObject(int fd)
        : m_fd(fd)
    {
    }
    // Closing the only descriptor of the open file drops the flock with it.
    ~MutexObject() override { ::close(m_fd); }

private:
    int m_fd;
};

} // namespace

QString mutexLockFilePath(const QString &name)
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir())
        return runtimeDir + QLatin1Char('/') + name + QStringLiteral(".lock");
    return QStringLiteral("/tmp/%1-%2.lock").arg(name).arg(::getuid());
}

HANDLE CreateMutexW(LPVOID, BOOL initialOwner, LPCWSTR name)
{
    const QByteArray path = QFile::encodeName(mutexLockFilePath(QString::fromWCharArray(name)));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    if (initialOwner) {
        int result;
        do
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        while (result != 0 && errno == EINTR);
        if (result != 0)
            error = ERROR_ALREADY_EXISTS;
    }
    HANDLE mutex = registerHandle(std::make_unique<MutexObject>(fd));
    SetLastError(error);
    return mutex;
}
