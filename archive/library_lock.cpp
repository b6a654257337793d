#include "archive/library_lock.h"

#include "platform/win32_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

} // namespace

BatchLock::~BatchLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // the only descriptor: the flock goes with it
}

BatchLock::Outcome BatchLock::take(const QString &path, const QString &what, QString &problem)
{
    // O_NONBLOCK: a FIFO planted there must not hang the open.
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
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

QString changerLockPath(const QString &node, const QString &identity, QString &problem)
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
    // The user's runtime folder first; without one the system's lock folder, the uid in
    // the name; else the private folder in the temporary folder.
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
