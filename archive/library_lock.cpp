#include "archive/library_lock.h"

#include "platform/posix/native_file.h"
#include "platform/win32_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Library {

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The holder's line, "<pid>"; empty when it has not written it yet.
QString holderOf(int fd)
{
    char line[32] = {};
    const ssize_t got = ::pread(fd, line, sizeof line - 1, 0);
    if (got <= 0)
        return QString();
    bool number = false;
    const qint64 pid = QByteArray(line, int(got)).trimmed().toLongLong(&number);
    return number && pid > 0 ? QString::number(pid) : QString();
}

// A folder every user may create in, where none can remove another's file (/run/lock).
bool isSharedFolder(const QByteArray &folder)
{
    struct stat info = {};
    return ::stat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && (info.st_mode & S_IWOTH) && (info.st_mode & S_ISVTX);
}

QString ownerName(uid_t uid)
{
    const struct passwd *user = ::getpwuid(uid);
    return user ? QStringLiteral("%1 (uid %2)").arg(QString::fromLocal8Bit(user->pw_name)).arg(uid)
                : QStringLiteral("uid %1").arg(uid);
}

// In a shared folder the lock file must be one every user can open and lock: it is made
// 0666 whatever the umask, never through O_CREAT on another's file (the kernel may refuse
// that in a sticky folder), and one another user made that not all may write is refused.
int openShared(const QByteArray &path, const QString &what, QString &problem)
{
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; ++tries) {
        fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.constData(),
                O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
            if (fd >= 0)
                ::fchmod(fd, 0666);
            else if (errno != EEXIST)
                break;
        } else if (fd < 0) {
            break;
        }
    }
    const int openError = errno;
    struct stat info = {};
    const bool seen = fd >= 0 ? ::fstat(fd, &info) == 0 : ::lstat(path.constData(), &info) == 0;
    if (seen && S_ISREG(info.st_mode) && info.st_uid != ::geteuid()
        && (info.st_mode & 0666) != 0666) {
        if (fd >= 0)
            ::close(fd);
        problem = QStringLiteral("%1 cannot be locked: %2 belongs to %3 and not every user may "
                                 "write it (mode %4), so it keeps other users' batches off: ask "
                                 "%3 or an administrator to remove it")
                      .arg(what, QFile::decodeName(path), ownerName(info.st_uid))
                      .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
        errno = EACCES;
        return -2;
    }
    if (fd >= 0 && seen && S_ISREG(info.st_mode) && (info.st_mode & 0666) != 0666)
        ::fchmod(fd, 0666); // our own, made before it was shared: opened up to the others
    if (fd < 0)
        errno = openError;
    return fd;
}

} // namespace

BatchLock::~BatchLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // the only descriptor: the flock goes with it
}

BatchLock::Outcome BatchLock::take(const QString &path, const QString &what, QString &problem)
{
    // O_NONBLOCK: a FIFO planted there must not hang the open.
    const QByteArray native = QFile::encodeName(path);
    const int fd = isSharedFolder(NativeFile::folderOf(native))
        ? openShared(native, what, problem)
        : ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd == -2)
        return Outcome::Refused;
    if (fd < 0) {
        const int error = errno;
        problem = error == ELOOP
            ? QStringLiteral("%1 cannot be locked: %2 is a symbolic link (remove it)")
                  .arg(what, path)
            : QStringLiteral("%1 cannot be locked: %2: %3").arg(what, path, errorText(error));
        return Outcome::Refused;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        problem = QStringLiteral("%1 cannot be locked: %2 is not a plain file (remove it)")
                      .arg(what, path);
        return Outcome::Refused;
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        const QString holder = holderOf(fd);
        ::close(fd);
        if (error != EWOULDBLOCK) {
            problem
                = QStringLiteral("%1 cannot be locked: %2: %3").arg(what, path, errorText(error));
            return Outcome::Refused;
        }
        problem = QStringLiteral("%1 is in use by another batch (%2): wait for it to end")
                      .arg(what,
                          holder.isEmpty() ? QStringLiteral("lock %1").arg(path)
                                           : QStringLiteral("process %1").arg(holder));
        return Outcome::Held;
    }
    const QByteArray line = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.constData(), size_t(line.size()), 0) < 0) {
        // Held all the same: only the name of the holder is missing for the next one.
    }
    m_fd = fd;
    return Outcome::Taken;
}

QString folderLockPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("library.lock"));
}

QString changerLockPath(
    const QString &node, const QString &identity, QString &problem, const QString &sharedFolder)
{
    QString key;
    if (!identity.isEmpty()) {
        key = QStringLiteral("serial-")
            + QString::fromLatin1(
                QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256)
                    .toHex()
                    .left(16));
    } else {
        struct stat info = {};
        if (::stat(QFile::encodeName(node).constData(), &info) != 0) {
            problem = QStringLiteral("cannot lock the changer %1: %2").arg(node, errorText(errno));
            return QString();
        }
        // A node that is no device (a test's stand-in) is known by its file.
        key = S_ISCHR(info.st_mode)
            ? QStringLiteral("dev-%1-%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev))
            : QStringLiteral("file-%1-%2").arg(quint64(info.st_dev)).arg(quint64(info.st_ino));
    }
    const QString name = QStringLiteral("changer-%1.lock").arg(key);
    // One name per changer where every user can reach it, so that two users' batches
    // keep off each other's robot; else the user's runtime folder, or the system's lock
    // folder with the uid in the name, or the private folder in the temporary folder.
    if (isSharedFolder(QFile::encodeName(sharedFolder)))
        return QDir(sharedFolder).filePath(QStringLiteral("tarnwick-") + name);
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && ::access("/run/lock", W_OK) == 0)
        return QStringLiteral("/run/lock/tarnwick-%1-%2").arg(::geteuid()).arg(name);
    const QString folder = namedObjectFolder(&problem);
    if (folder.isEmpty()) {
        problem = QStringLiteral("cannot lock the changer %1: %2").arg(node, problem);
        return QString();
    }
    return folder + QLatin1Char('/') + name;
}

} // namespace Library
