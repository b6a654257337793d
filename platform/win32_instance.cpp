#include "platform/win32_instance.h"

#include "platform/backend/win32_handles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

/// Makes @p folder (mode 0700) unless it exists; empty when it is fine, else why not.
QString makePrivateFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("%1 cannot be made (%2)")
            .arg(folder, QString::fromLocal8Bit(strerror(errno)));
    struct stat info = {};
    // lstat: a link planted in its place is not followed.
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user").arg(folder);
    if ((info.st_mode & 077) != 0)
        return QStringLiteral("%1 is open to other users").arg(folder);
    return QString();
}

} // namespace

QString namedObjectFolder(QString *problem)
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString why;
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir()) {
        const QString folder = runtimeDir + QStringLiteral("/tarnwick");
        why = makePrivateFolder(folder);
        if (why.isEmpty())
            return folder;
    }
    const QString folder = QStringLiteral("%1/tarnwick-%2").arg(QDir::tempPath()).arg(::geteuid());
    const QString tempWhy = makePrivateFolder(folder);
    if (tempWhy.isEmpty())
        return folder;
    if (problem)
        *problem = why.isEmpty() ? tempWhy : why + QStringLiteral(", ") + tempWhy;
    return QString();
}

QString mutexLockFilePath(const QString &name)
{
    const QString folder = namedObjectFolder();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + name + QStringLiteral(".lock");
}

HANDLE CreateMutexW(LPVOID, BOOL initialOwner, LPCWSTR name)
{
    const QString lockFile = mutexLockFilePath(QString::fromWCharArray(name));
    const int fd = lockFile.isEmpty() ? -1
                                      : ::open(QFile::encodeName(lockFile).constData(),
                                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastError(
            lockFile.isEmpty() || errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
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
