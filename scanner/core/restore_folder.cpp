#include "scanner/core/restore_folder.h"

#include "scanner/core/shown_name.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Quorlin {
namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

/// Access and modification time as futimens() and utimensat() take them.
struct Times
{
    timespec times[2];
};

Times timesOf(const EntryMetadata &metadata)
{
    const auto one = [](bool set, qint64 seconds, long nanoseconds) {
        timespec time {};
        time.tv_sec = set ? time_t(seconds) : 0;
        time.tv_nsec = set ? nanoseconds : UTIME_OMIT;
        return time;
    };
    return { { one(metadata.hasAtime, metadata.atime, metadata.atimeNsec),
        one(metadata.hasMtime, metadata.mtime, metadata.mtimeNsec) } };
}

QList<QByteArray> partsOf(const QByteArray &name)
{
    return name.isEmpty() ? QList<QByteArray>() : name.split('/');
}

/// The process's umask, read without changing it (other threads may be creating files).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

RestoreFile::RestoreFile(RestoreFile &&other) noexcept
{
    *this = std::move(other);
}

RestoreFile &RestoreFile::operator=(RestoreFile &&other) noexcept
{
    std::swap(m_folder, other.m_folder);
    std::swap(m_fd, other.m_fd);
    std::swap(m_temporary, other.m_temporary);
    std::swap(m_leaf, other.m_leaf);
    std::swap(m_name, other.m_name);
    std::swap(m_modeGiven, other.m_modeGiven);
    std::swap(m_error, other.m_error);
    return *this;
}

RestoreFile::~RestoreFile()
{
    close();
}

void RestoreFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    // Never placed: what is there is not the whole file.
    if (!m_temporary.isEmpty())
        ::unlinkat(m_folder, m_temporary.constData(), 0);
    m_temporary.clear();
    if (m_folder >= 0)
        ::close(m_folder);
    m_folder = -1;
}

bool RestoreFile::write(const void *data, qint64 size, qint64 offset)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t done = ::pwrite(m_fd, bytes, size_t(size), off_t(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            m_error = systemError(done < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += done;
        size -= done;
        offset += done;
    }
    return true;
}

bool RestoreFile::setLength(qint64 length)
{
    if (::ftruncate(m_fd, off_t(length)) == 0)
        return true;
    m_error = systemError(errno);
    return false;
}

RestoreFolder::RestoreFolder(const RestorePolicy &policy)
    : m_policy(policy)
    , m_umask(currentUmask())
    , m_pid(QByteArray::number(qint64(::getpid())))
{
}

RestoreFolder::~RestoreFolder()
{
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    if (m_root >= 0)
        ::close(m_root);
}

bool RestoreFolder::open(const QString &path)
{
    // The folder the user chose may itself be reached through links; only
    // what lies below it is guarded.
    if (!QDir().mkpath(path)) {
        m_error = QStringLiteral("Cannot create the folder %1").arg(shownName(path));
        return false;
    }
    m_root = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_root < 0)
        m_error = QStringLiteral("Cannot open the folder %1: %2")
                      .arg(shownName(path), systemError(errno));
    return m_root >= 0;
}

bool RestoreFolder::fail(const QByteArray &name, int error)
{
    m_error = QStringLiteral("%1: %2").arg(shownName(name), systemError(error));
    return false;
}

int RestoreFolder::openFolder(const QList<QByteArray> &parts, bool create)
{
    int fd = ::dup(m_root);
    QByteArray path;
    for (const QByteArray &part : parts) {
        path += path.isEmpty() ? part : '/' + part;
        if (part.isEmpty() || part == "." || part == "..") {
            ::close(fd);
            fail(path, EINVAL);
            return -1;
        }
        int next = ::openat(fd, part.constData(), folderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, part.constData(), 0777) == 0)
                m_madeFolders.insert(path);
            next = ::openat(fd, part.constData(), folderFlags);
        }
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            if (error == ELOOP || error == ENOTDIR)
                m_error = QStringLiteral("%1 is not a folder but a link or a file: nothing is "
                                         "written through it")
                              .arg(shownName(path));
            else
                fail(path, error);
            return -1;
        }
        fd = next;
    }
    return fd;
}

int RestoreFolder::folderOf(const QByteArray &name, QByteArray *leaf)
{
    const int cut = name.lastIndexOf('/');
    const QByteArray folder = cut < 0 ? QByteArray() : name.left(cut);
    *leaf = name.mid(cut + 1);
    if (leaf->isEmpty() || *leaf == "." || *leaf == "..") {
        fail(name, EINVAL);
        return -1;
    }
    // Entries come folder by folder: the last folder is kept open.
    if (m_cachedFd >= 0 && folder == m_cachedPath)
        return m_cachedFd;
    const int fd = openFolder(partsOf(folder), true);
    if (fd < 0)
        return -1;
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    m_cachedFd = fd;
    m_cachedPath = folder;
    return fd;
}

QByteArray RestoreFolder::makeFree(
    const QByteArray &leaf, const QByteArray &name, const std::function<int(const char *)> &make)
{
    const QByteArray prefix = name.left(name.size() - leaf.size());
    for (int n = 1; n < 100000; ++n) {
        const QByteArray candidate = n == 1 ? leaf : leaf + '.' + QByteArray::number(n);
        if (make(candidate.constData()) == 0)
            return prefix + candidate;
        if (errno != EEXIST) {
            fail(prefix + candidate, errno);
            return {};
        }
    }
    fail(name, EEXIST);
    return {};
}

RestoreFile RestoreFolder::create(const QByteArray &name, uint mode)
{
    return openFile(name, true, mode);
}

RestoreFile RestoreFolder::reopen(const QByteArray &name)
{
    return openFile(name, false, 0);
}

RestoreFile RestoreFolder::openFile(const QByteArray &name, bool fresh, uint mode)
{
    RestoreFile file;
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    if (folder < 0)
        return file;
    // Made with its final mode when the umask already gives it (as by default):
    // one call less per file.
    const uint kept = modeFor(mode);
    file.m_modeGiven = fresh && !m_policy.keepSetuid && !m_policy.owners && (kept & ~0777u) == 0;
    for (int tries = 0; fresh && tries < 1000 && file.m_fd < 0; ++tries) {
        file.m_temporary = ".quorlin-" + m_pid + '-' + QByteArray::number(++m_temporaries);
        file.m_fd = ::openat(folder, file.m_temporary.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
            mode_t(file.m_modeGiven ? kept : 0600));
        if (file.m_fd < 0 && errno != EEXIST)
            break;
    }
    if (!fresh)
        file.m_fd = ::openat(folder, leaf.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file.m_fd < 0) {
        file.m_temporary.clear();
        fail(name, errno);
        return file;
    }
    file.m_folder = ::dup(folder);
    file.m_leaf = leaf;
    file.m_name = name;
    return file;
}

uint RestoreFolder::modeFor(uint stored) const
{
    if (m_policy.keepSetuid)
        return stored & 07777;
    return stored & 07777 & ~uint(S_ISUID | S_ISGID) & ~uint(m_umask);
}

bool RestoreFolder::applyMetadata(
    int fd, const QByteArray &name, const EntryMetadata &metadata, bool modeGiven)
{
    // The owner first: changing it clears setuid and setgid.
    if (m_policy.owners && ::fchown(fd, uid_t(metadata.uid), gid_t(metadata.gid)) != 0)
        return fail(name, errno);
    if (!modeGiven && ::fchmod(fd, mode_t(modeFor(metadata.mode))) != 0)
        return fail(name, errno);
    if (::futimens(fd, timesOf(metadata).times) != 0)
        return fail(name, errno);
    return true;
}

QByteArray RestoreFolder::place(
    RestoreFile &file, const EntryMetadata &metadata, const QByteArray &suffix)
{
    if (!applyMetadata(file.m_fd, file.m_name, metadata, file.m_modeGiven))
        return {};
    ::close(file.m_fd);
    file.m_fd = -1;
    const int folder = file.m_folder;
    const QByteArray temporary = file.m_temporary;
    const QByteArray used
        = makeFree(file.m_leaf + suffix, file.m_name + suffix, [&](const char *candidate) {
              if (::renameat2(folder, temporary.constData(), folder, candidate, RENAME_NOREPLACE)
                  == 0)
                  return 0;
              if (errno != EINVAL && errno != ENOSYS)
                  return -1;
              // A file system that cannot refuse to replace: look first.
              struct stat existing;
              if (::fstatat(folder, candidate, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
                  errno = EEXIST;
                  return -1;
              }
              return ::renameat(folder, temporary.constData(), folder, candidate);
          });
    if (!used.isEmpty())
        file.m_temporary.clear();
    file.close();
    return used;
}

bool RestoreFolder::finish(RestoreFile &file, const EntryMetadata &metadata)
{
    const bool done = applyMetadata(file.m_fd, file.m_name, metadata);
    file.close();
    return done;
}

QByteArray RestoreFolder::hardLink(const QByteArray &existing, const QByteArray &name)
{
    QByteArray sourceLeaf;
    const int sourceFolder = folderOf(existing, &sourceLeaf);
    if (sourceFolder < 0)
        return {};
    const int source = ::dup(sourceFolder); // resolving the new name may close it
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    QByteArray used;
    if (folder >= 0)
        used = makeFree(leaf, name, [&](const char *candidate) {
            return ::linkat(source, sourceLeaf.constData(), folder, candidate, 0);
        });
    ::close(source);
    return used;
}

QByteArray RestoreFolder::symbolicLink(
    const QByteArray &target, const QByteArray &name, const EntryMetadata &metadata)
{
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    if (folder < 0)
        return {};
    const QByteArray used = makeFree(leaf, name,
        [&](const char *candidate) { return ::symlinkat(target.constData(), folder, candidate); });
    // A link's own times and owner; what it points to is never touched.
    return used.isEmpty() || applyMetadataAt(folder, used, metadata, false) ? used : QByteArray();
}

QByteArray RestoreFolder::special(
    const QByteArray &name, uint type, quint64 device, const EntryMetadata &metadata)
{
    if (type != S_IFIFO && !m_policy.owners) {
        m_error = QStringLiteral("%1: a device file, made only with --owners, as root")
                      .arg(shownName(name));
        return {};
    }
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    if (folder < 0)
        return {};
    const QByteArray used = makeFree(leaf, name, [&](const char *candidate) {
        return ::mknodat(folder, candidate, mode_t(type | 0600), dev_t(device));
    });
    // Set by name: opening a device would start its driver.
    return used.isEmpty() || applyMetadataAt(folder, used, metadata, true) ? used : QByteArray();
}

bool RestoreFolder::applyMetadataAt(
    int folder, const QByteArray &name, const EntryMetadata &metadata, bool withMode)
{
    const QByteArray leaf = name.mid(name.lastIndexOf('/') + 1);
    if ((m_policy.owners
            && ::fchownat(folder, leaf.constData(), uid_t(metadata.uid), gid_t(metadata.gid),
                   AT_SYMLINK_NOFOLLOW)
                != 0)
        || (withMode
            && ::fchmodat(folder, leaf.constData(), mode_t(modeFor(metadata.mode)), 0) != 0)
        || ::utimensat(folder, leaf.constData(), timesOf(metadata).times, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(name, errno);
    return true;
}

bool RestoreFolder::makeFolder(const QByteArray &name, const EntryMetadata &metadata)
{
    const int fd = openFolder(partsOf(name), true);
    if (fd < 0)
        return false;
    ::close(fd);
    // A folder that was there before belongs to the user: left as it is.
    if (m_madeFolders.contains(name))
        m_folderMetadata.insert(name, metadata);
    return true;
}

bool RestoreFolder::finishFolders()
{
    QList<QByteArray> names = m_folderMetadata.keys();
    // The deepest first: a folder closed to writing must not stop its contents' changes.
    std::sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        return a.count('/') > b.count('/') || (a.count('/') == b.count('/') && a < b);
    });
    bool done = true;
    for (const QByteArray &name : names) {
        const int fd = openFolder(partsOf(name), false);
        done = fd >= 0 && applyMetadata(fd, name, m_folderMetadata.value(name)) && done;
        if (fd >= 0)
            ::close(fd);
    }
    m_folderMetadata.clear();
    return done;
}

} // namespace Quorlin
