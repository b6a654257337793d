#include "platform/posix/native_file.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace NativeFile {

namespace {

template <typename Call> auto whileInterrupted(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

const char kDescriptorFolder[] = "/proc/self/fd/";

/// Whether @p path has the form of the names nameOf() gives.
bool isDescriptorName(const QByteArray &path)
{
    const QByteArray number = path.mid(int(sizeof kDescriptorFolder) - 1);
    return path.startsWith(kDescriptorFolder) && !number.isEmpty()
        && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Kind kindAt(const QByteArray &path)
{
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0)
        return Kind::Missing;
    if (S_ISREG(info.st_mode))
        return Kind::Regular;
    if (S_ISDIR(info.st_mode))
        return Kind::Directory;
    if (S_ISLNK(info.st_mode))
        return Kind::SymbolicLink;
    return Kind::Other;
}

int createExclusive(const QByteArray &path)
{
    return whileInterrupted([&path] {
        return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    });
}

int createOrRewriteOwn(const QByteArray &path)
{
    // A name nameOf() gave is a link to a file this process holds open: it is followed.
    const bool ownDescriptor = isDescriptorName(path);
    int fd = ownDescriptor ? -1 : createExclusive(path);
    if (fd >= 0 || (!ownDescriptor && errno != EEXIST))
        return fd;
    if (!ownDescriptor && kindAt(path) != Kind::Regular) { // opening a device can move a tape
        errno = EEXIST;
        return -1;
    }
    // The name may have changed since, so what is opened is looked at again. O_NONBLOCK: a
    // FIFO put there meanwhile fails at once (ENXIO) instead of waiting for a reader.
    const int flags = O_WRONLY | O_NONBLOCK | O_CLOEXEC | (ownDescriptor ? 0 : O_NOFOLLOW);
    fd = whileInterrupted([&path, flags] { return ::open(path.constData(), flags); });
    struct stat info = {};
    const bool own = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
        && info.st_uid == ::geteuid() && info.st_nlink == 1;
    if (!own) {
        NativeFile::close(fd);
        errno = EEXIST; // whatever it was, the name is taken
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 || !truncate(fd, 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::FILE *writingStream(int fd)
{
    if (fd < 0)
        return nullptr;
    std::FILE *stream = ::fdopen(fd, "wb"); // "w" here does not truncate: the file is as given
    if (!stream)
        ::close(fd);
    return stream;
}

int openForReading(const QByteArray &path)
{
    // O_NONBLOCK: a FIFO named like an image must not hang the reader.
    const int fd = whileInterrupted([&path] {
        return ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    struct stat info = {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool readAll(const QByteArray &path, qint64 limit, QByteArray &content)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    content.clear();
    char chunk[65536];
    for (;;) {
        const ssize_t got = whileInterrupted([&] { return ::read(fd, chunk, sizeof chunk); });
        if (got <= 0 || content.size() + got > limit) {
            ::close(fd);
            return got == 0;
        }
        content.append(chunk, int(got));
    }
}

bool close(int fd)
{
    return fd < 0 || ::close(fd) == 0; // never retried: the descriptor is gone either way
}

bool rename(const QByteArray &from, const QByteArray &to, bool replace)
{
    if (replace)
        return ::rename(from.constData(), to.constData()) == 0;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link fails just as surely on a taken name.
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

bool removeFile(const QByteArray &path)
{
    const Kind kind = kindAt(path);
    if (kind != Kind::Regular && kind != Kind::SymbolicLink) {
        errno = kind == Kind::Missing ? ENOENT : EISDIR;
        return false;
    }
    return ::unlink(path.constData()) == 0;
}

bool sync(int fd)
{
    return whileInterrupted([fd] { return ::fsync(fd); }) == 0;
}

bool syncFolderOf(const QByteArray &path)
{
    const int fd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = sync(fd);
    ::close(fd);
    return synced;
}

bool truncate(int fd, qint64 length)
{
    return whileInterrupted([=] { return ::ftruncate(fd, length); }) == 0;
}

qint64 size(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 ? qint64(info.st_size) : -1;
}

bool volumeOf(int fd, qint64 &available, bool &readOnly)
{
    struct statvfs volume = {};
    if (::fstatvfs(fd, &volume) != 0)
        return false;
    available = qint64(volume.f_bavail) * qint64(volume.f_frsize);
    readOnly = (volume.f_flag & ST_RDONLY) != 0;
    return true;
}

bool stillAt(int fd, const QByteArray &path)
{
    struct stat open = {};
    struct stat named = {};
    if (::fstat(fd, &open) != 0 || open.st_nlink == 0)
        return false;
    return ::lstat(path.constData(), &named) == 0 && named.st_dev == open.st_dev
        && named.st_ino == open.st_ino;
}

QByteArray nameOf(int fd)
{
    const QByteArray name = kDescriptorFolder + QByteArray::number(fd);
    return ::access(name.constData(), F_OK) == 0 ? name : QByteArray();
}

bool lockExclusive(int fd)
{
    return whileInterrupted([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0;
}

int createLocked(const QByteArray &path)
{
    // A nameless file, locked, then given its name: linkat() fails on a taken name as
    // O_EXCL does.
    const int fd = whileInterrupted([&path] {
        return ::open(folderOf(path).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    });
    if (fd >= 0) {
        const QByteArray name = kDescriptorFolder + QByteArray::number(fd);
        if (lockExclusive(fd)
            && ::linkat(AT_FDCWD, name.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW)
                == 0)
            return fd;
        const int error = errno;
        ::close(fd);
        errno = error;
        if (error == EEXIST)
            return -1;
    }
    // A file system (or a system without /proc) that cannot do this: lock at once instead.
    const int created = createExclusive(path);
    if (created >= 0 && !lockExclusive(created)) {
        const int error = errno;
        ::close(created);
        errno = error;
        return -1;
    }
    return created;
}

qint64 lockHolder(int fd)
{
    struct stat info = {};
    QByteArray locks;
    if (::fstat(fd, &info) != 0 || !readAll("/proc/locks", 1 << 20, locks))
        return -1;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the device in hex, the inode in decimal.
    const QByteArray file = QByteArray::number(major(info.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(minor(info.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(quint64(info.st_ino));
    for (const QByteArray &line : locks.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 5 && fields[1] == "FLOCK" && fields[5] == file)
            return fields[4].toLongLong();
    }
    return -1;
}

namespace {

QString cannot(const char *what, const QByteArray &path, int error)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(QLatin1String(what), QString::fromLocal8Bit(path), errorText(error));
}

/// Writes @p data beside @p path under a temporary name and renames it into place; with
/// @p durable, the data and then the new name are on the disk before it returns.
bool writeThroughTemporary(
    const QByteArray &path, const QByteArray &data, bool durable, QString &problem)
{
    QByteArray temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = cannot("create a file beside", path, errno);
        return false;
    }
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t wrote = whileInterrupted(
            [&] { return ::write(fd, data.constData() + done, std::size_t(data.size() - done)); });
        if (wrote == 0)
            errno = ENOSPC; // a write that takes nothing and says nothing: the disk is full
        if (wrote <= 0)
            break;
        done += wrote;
    }
    // mkostemp leaves the file to its owner only; what is written here is as public as the
    // folder's other files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (done != data.size())
        problem = cannot("write", temporary, errno);
    else if (::fchmod(fd, 0666 & ~mask) != 0 || (durable && !sync(fd)))
        problem = cannot("write to the disk", temporary, errno);
    if (!close(fd) && problem.isEmpty())
        problem = cannot("write", temporary, errno);
    if (problem.isEmpty() && !rename(temporary, path, true))
        problem = cannot("put in place", path, errno);
    if (!problem.isEmpty()) {
        const int error = errno;
        ::unlink(temporary.constData());
        errno = error;
        return false;
    }
    if (durable && !syncFolderOf(path)) {
        problem = cannot("write to the disk the folder of", path, errno);
        return false;
    }
    return true;
}

} // namespace

bool writeReplacing(const QByteArray &path, const QByteArray &data)
{
    QString problem;
    return writeThroughTemporary(path, data, false, problem);
}

bool writeDurably(const QByteArray &path, const QByteArray &data, QString &problem)
{
    return writeThroughTemporary(path, data, true, problem);
}

qint64 fileSizeLimit()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(limit.rlim_cur);
}

QByteArray folderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

int lastError()
{
    return errno;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace NativeFile
