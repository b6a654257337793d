#include "scanner/core/restore_folder.h"

#include "scanner/core/shown_name.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <atomic>
#include <iterator>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

std::function<int(const QByteArray &)> &nameRefusal()
{
    static std::function<int(const QByteArray &)> refuse;
    return refuse;
}

/// Errors by which a file system refuses a name itself, not what it names.
bool refusesName(int error)
{
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG;
}

constexpr int longestName = 255;
/// What a shortened name keeps of its start, leaving room for "~HASH", its end and ".N".
constexpr int shortenedStart = 160;

/// @p leaf with the bytes vfat and NTFS refuse as %XX and, when @p bytesAbove is set,
/// every byte above 0x7f (a file system that takes only UTF-8, or only ASCII); cut to
/// what a file system takes when too long, with a hash of the whole and its extension.
QByteArray escapedLeaf(const QByteArray &leaf, bool bytesAbove)
{
    QByteArray out;
    int kept = leaf.size(); // trailing dots and spaces are dropped or refused too
    while (
        kept > 0 && (leaf[kept - 1] == '.' || leaf[kept - 1] == ' ') && leaf != "." && leaf != "..")
        --kept;
    for (int i = 0; i < leaf.size(); ++i) {
        const auto c = uchar(leaf[i]);
        if (i >= kept || c < 0x20 || c == 0x7f || std::strchr(":\\?*\"<>|", c)
            || (bytesAbove && c > 0x7f))
            out.append('%').append(QByteArray::number(c, 16).rightJustified(2, '0').toUpper());
        else
            out.append(char(c));
    }
    if (out.size() <= longestName)
        return out;
    int cut = shortenedStart; // not inside a %XX nor a UTF-8 sequence
    while (cut > 0
        && ((uchar(out[cut]) & 0xc0) == 0x80 || out[cut - 1] == '%'
            || (cut > 1 && out[cut - 2] == '%')))
        --cut;
    const int dot = out.lastIndexOf('.');
    const QByteArray tail = dot > out.size() - 16 ? out.mid(dot) : QByteArray();
    return out.left(cut) + '~' + QByteArray::number(qHash(leaf), 16).rightJustified(8, '0') + tail;
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

/// The temporary files being written, for a signal handler to remove: a
/// handler may only read what lock-free atomics guard.
struct Temporary
{
    std::atomic<int> folder { -1 };
    char name[64] = {};
};
Temporary temporaries[16];

int registerTemporary(int folder, const QByteArray &name)
{
    if (name.size() >= int(sizeof temporaries[0].name))
        return -1;
    for (int i = 0; i < int(std::size(temporaries)); ++i) {
        int unused = -1;
        // Claimed with a folder no handler may use, then filled, then published.
        if (temporaries[i].folder.compare_exchange_strong(unused, -2)) {
            std::memcpy(temporaries[i].name, name.constData(), size_t(name.size()) + 1);
            temporaries[i].folder.store(folder);
            return i;
        }
    }
    return -1;
}

void unregisterTemporary(int slot)
{
    if (slot >= 0)
        temporaries[slot].folder.store(-1);
}

extern "C" void removeTemporariesAndDie(int signal)
{
    for (Temporary &temporary : temporaries) {
        const int folder = temporary.folder.load();
        if (folder >= 0)
            ::unlinkat(folder, temporary.name, 0);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void removeTemporariesOnSignals()
{
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads these");
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        struct sigaction before;
        // One that was ignored when we started (nohup) stays so.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

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
    std::swap(m_slot, other.m_slot);
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
    unregisterTemporary(m_slot);
    m_slot = -1;
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
    for (const Held &held : qAsConst(m_held)) {
        if (held.fd >= 0)
            ::close(held.fd);
    }
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
    // File systems made for other systems refuse names a Unix archive may hold (vfat
    // also drops trailing dots, so two names would become one).
    struct statfs system;
    if (m_root >= 0 && ::fstatfs(m_root, &system) == 0) {
        static const QPair<long, const char *> refusing[]
            = { { 0x4d44, "vfat" }, { 0x5346544e, "NTFS" }, { 0x2011bab0, "exFAT" },
                  { 0x517b, "SMB" }, { long(0xff534d42), "CIFS" }, { 0xfe534d42, "SMB2" } };
        for (const auto &kind : refusing) {
            if (long(system.f_type) == kind.first)
                m_refusing = QLatin1String(kind.second);
        }
    }
    if (m_refusing.isEmpty() && m_policy.escapeNames)
        m_refusing = QStringLiteral("--escape-names");
    return m_root >= 0;
}

QByteArray RestoreFolder::safeName(const QByteArray &name)
{
    if (m_refusing.isEmpty())
        return name;
    QByteArray safe;
    safe.reserve(name.size());
    const auto escaped = [&safe](uchar c) {
        static const char digits[] = "0123456789ABCDEF";
        safe.append('%').append(digits[c >> 4]).append(digits[c & 15]);
    };
    for (int begin = 0; begin <= name.size();) {
        int end = name.indexOf('/', begin);
        if (end < 0)
            end = name.size();
        // Trailing dots and spaces are dropped or refused: they are escaped too.
        int kept = end;
        while (kept > begin && (name[kept - 1] == '.' || name[kept - 1] == ' ')
            && name.mid(begin, kept - begin) != "." && name.mid(begin, kept - begin) != "..")
            --kept;
        for (int i = begin; i < end; ++i) {
            const auto c = uchar(name[i]);
            if (i >= kept || c < 0x20 || c == 0x7f || std::strchr(":\\?*\"<>|", c))
                escaped(c);
            else
                safe.append(char(c));
        }
        if (end < name.size())
            safe.append('/');
        begin = end + 1;
    }
    // Each escaped name once in the map, from its first changed part on.
    if (safe != name && !m_escaped.contains(safe))
        m_escaped.insert(safe, name);
    return safe;
}

QByteArray RestoreFolder::writeNameMap(int *count)
{
    *count = m_escaped.size();
    if (m_escaped.isEmpty())
        return {};
    QByteArray text = "# Names written escaped (%XX stands for the byte XX), a tab, the name "
                      "in the archive as quorlin shows it\n";
    for (auto it = m_escaped.cbegin(); it != m_escaped.cend(); ++it)
        text += it.key() + '\t' + shownName(it.value()).toUtf8() + '\n';
    const QByteArray name = "quorlin-escaped-names.txt";
    const int fd = ::openat(
        m_root, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool written
        = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        fail(name, errno);
        return {};
    }
    return name;
}

bool RestoreFolder::fail(const QByteArray &name, int error)
{
    m_error = QStringLiteral("%1: %2").arg(shownName(name), systemError(error));
    return false;
}

int RestoreFolder::openFolder(const QByteArray &folder, bool create)
{
    // What the last walk opened is held along its path: a name that shares its start
    // goes on from there, so a walk costs what it adds, however deep the tree.
    int common = 0;
    for (int from = 0; common < m_held.size(); ++common) {
        const int end = m_held[common].end;
        if (end > folder.size() || (end < folder.size() && folder[end] != '/')
            || std::memcmp(
                   folder.constData() + from, m_heldPath.constData() + from, size_t(end - from))
                != 0)
            break;
        from = end + 1;
    }
    while (m_held.size() > common) {
        if (m_held.last().fd >= 0) {
            ::close(m_held.last().fd);
            --m_heldOpen;
        }
        m_held.removeLast();
    }
    int start = common;
    while (start > 0 && m_held[start - 1].fd < 0)
        --start;
    m_firstHeld = std::min(m_firstHeld, start);
    int fd = start > 0 ? m_held[start - 1].fd : m_root;
    int begin = start > 0 ? m_held[start - 1].end + 1 : 0;
    // Names are made only for what is said or kept: a deep walk must not copy its path per step.
    const auto held = [this, &folder](int result) {
        m_heldPath = folder.left(m_held.isEmpty() ? 0 : m_held.last().end);
        return result;
    };
    for (int i = start; !folder.isEmpty() && begin <= folder.size(); ++i) {
        int end = folder.indexOf('/', begin);
        if (end < 0)
            end = folder.size();
        const QByteArray part = folder.mid(begin, end - begin);
        begin = end + 1;
        if (part.isEmpty() || part == "." || part == "..") {
            fail(folder.left(end), EINVAL);
            return held(-1);
        }
        const QByteArray path = folder.left(end);
        const QByteArray used = m_refusedFolders.value(path, part);
        int next = ::openat(fd, used.constData(), folderFlags);
        if (next < 0 && (errno == ENOENT || refusesName(errno)) && create && i >= common) {
            const QByteArray made = makeName(
                used, path, [fd](const char *leaf) { return ::mkdirat(fd, leaf, 0777); });
            if (!made.isEmpty())
                m_madeFolders.insert(path);
            if (!made.isEmpty() && made != used)
                m_refusedFolders.insert(path, made);
            next = ::openat(fd, made.isEmpty() ? used.constData() : made.constData(), folderFlags);
        }
        if (next < 0) {
            const int error = errno;
            if (error == ELOOP || error == ENOTDIR)
                m_error = QStringLiteral("%1 is not a folder but a link or a file: nothing is "
                                         "written through it")
                              .arg(shownName(folder.left(end)));
            else
                fail(folder.left(end), error);
            return held(-1);
        }
        if (i < common)
            m_held[i].fd = next;
        else
            m_held.append({ end, next });
        fd = next;
        // Only the deepest are kept open: a path of thousands of folders would
        // run out of descriptors.
        for (++m_heldOpen; m_heldOpen > heldLimit; --m_heldOpen) {
            while (m_held[m_firstHeld].fd < 0)
                ++m_firstHeld;
            ::close(m_held[m_firstHeld].fd);
            m_held[m_firstHeld].fd = -1;
        }
    }
    return held(fd);
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
    return openFolder(folder, true);
}

QByteArray RestoreFolder::makeFree(
    const QByteArray &leaf, const QByteArray &name, const std::function<int(const char *)> &make)
{
    const QByteArray prefix = name.left(name.size() - leaf.size());
    const QByteArray placed = prefix.isEmpty() ? prefix : onDisk(prefix.chopped(1)) + '/';
    for (int n = 1; n < 100000; ++n) {
        const QByteArray candidate = n == 1 ? leaf : leaf + '.' + QByteArray::number(n);
        const QByteArray used = makeName(candidate, prefix + candidate, make);
        if (!used.isEmpty())
            return placed + used;
        if (errno != EEXIST) {
            fail(prefix + candidate, errno);
            return {};
        }
    }
    fail(name, EEXIST);
    return {};
}

void RestoreFolder::setNameRefusal(std::function<int(const QByteArray &leaf)> refuse)
{
    nameRefusal() = std::move(refuse);
}

QByteArray RestoreFolder::makeName(
    const QByteArray &leaf, const QByteArray &path, const std::function<int(const char *)> &make)
{
    const auto attempt = [&make](const QByteArray &name) {
        const int refused = nameRefusal() ? nameRefusal()(name) : 0;
        if (refused != 0)
            errno = refused;
        return refused == 0 && make(name.constData()) == 0;
    };
    if (attempt(leaf))
        return leaf;
    if (!refusesName(errno))
        return {};
    // The name itself is refused: what vfat and NTFS refuse escaped, then any byte
    // above 0x7f (a file system that takes only UTF-8), shortened when too long.
    const int error = errno;
    QByteArray escaped = escapedLeaf(leaf, false);
    if (escaped == leaf)
        escaped = escapedLeaf(leaf, true);
    if (escaped == leaf) {
        errno = error;
        return {};
    }
    if (!attempt(escaped))
        return {};
    const int cut = path.size() - leaf.size();
    m_escaped.insert((cut > 0 ? onDisk(path.left(cut - 1)) + '/' : QByteArray()) + escaped, path);
    m_refusedAtCreation = true;
    return escaped;
}

QByteArray RestoreFolder::onDisk(const QByteArray &folder) const
{
    if (m_refusedFolders.isEmpty())
        return folder;
    QByteArray out;
    for (int begin = 0; begin <= folder.size();) {
        int end = folder.indexOf('/', begin);
        if (end < 0)
            end = folder.size();
        out += (begin > 0 ? "/" : "")
            + m_refusedFolders.value(folder.left(end), folder.mid(begin, end - begin));
        begin = end + 1;
    }
    return out;
}

RestoreFile RestoreFolder::create(const QByteArray &name, uint mode)
{
    return openFile(name, true, mode);
}

RestoreFile RestoreFolder::reopen(const QByteArray &name)
{
    return openFile(name, false, 0);
}

RestoreFile RestoreFolder::openFile(const QByteArray &given, bool fresh, uint mode)
{
    const QByteArray name = safeName(given);
    RestoreFile file;
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    if (folder < 0)
        return file;
    // Made with its final mode when the umask already gives it (as by default):
    // one call less per file.
    const uint kept = modeFor(mode);
    file.m_modeGiven = fresh && !m_policy.keepSetuid && !m_policy.owners && (kept & ~0777u) == 0;
    file.m_folder = ::dup(folder); // its own: a later walk closes the one it was given
    for (int tries = 0; fresh && tries < 1000 && file.m_fd < 0; ++tries) {
        file.m_temporary = ".quorlin-" + m_pid + '-' + QByteArray::number(++m_temporaries);
        // Known to the signal handler before it exists: a signal in between would leave it.
        unregisterTemporary(file.m_slot);
        file.m_slot = registerTemporary(file.m_folder, file.m_temporary);
        file.m_fd = ::openat(file.m_folder, file.m_temporary.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
            mode_t(file.m_modeGiven ? kept : 0600));
        if (file.m_fd < 0 && errno != EEXIST)
            break;
    }
    if (!fresh)
        file.m_fd = ::openat(folder, leaf.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file.m_fd < 0) {
        file.m_temporary.clear(); // not made: nothing to remove when the file is dropped
        fail(name, errno);
        return file;
    }
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

bool RestoreFolder::ownersRefused(int error)
{
    if (error != EPERM)
        return false;
    // Not root: the files stay the user's own, which the run says once.
    m_policy.owners = false;
    m_ownersNotKept = true;
    return true;
}

bool RestoreFolder::applyMetadata(
    int fd, const QByteArray &name, const EntryMetadata &metadata, bool modeGiven)
{
    // The owner first: changing it clears setuid and setgid.
    if (m_policy.owners && ::fchown(fd, uid_t(metadata.uid), gid_t(metadata.gid)) != 0
        && !ownersRefused(errno))
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

QByteArray RestoreFolder::hardLink(const QByteArray &existingGiven, const QByteArray &given)
{
    const QByteArray existing = safeName(existingGiven);
    const QByteArray name = safeName(given);
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
    const QByteArray &target, const QByteArray &given, const EntryMetadata &metadata)
{
    const QByteArray name = safeName(given);
    QByteArray leaf;
    const int folder = folderOf(name, &leaf);
    if (folder < 0)
        return {};
    const QByteArray used = makeFree(leaf, name,
        [&](const char *candidate) { return ::symlinkat(target.constData(), folder, candidate); });
    // A link's own times and owner; what it points to is never touched.
    return used.isEmpty() || applyMetadataAt(folder, used, metadata, false)
        ? used
        : removeMade(folder, used);
}

QByteArray RestoreFolder::special(
    const QByteArray &given, uint type, quint64 device, const EntryMetadata &metadata)
{
    const QByteArray name = safeName(given);
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
    return used.isEmpty() || applyMetadataAt(folder, used, metadata, true)
        ? used
        : removeMade(folder, used);
}

QByteArray RestoreFolder::removeMade(int folder, const QByteArray &name)
{
    // Made with a mode and owner it was not to keep: not left behind.
    ::unlinkat(folder, name.mid(name.lastIndexOf('/') + 1).constData(), 0);
    return {};
}

bool RestoreFolder::applyMetadataAt(
    int folder, const QByteArray &name, const EntryMetadata &metadata, bool withMode)
{
    const QByteArray leaf = name.mid(name.lastIndexOf('/') + 1);
    if ((m_policy.owners
            && ::fchownat(folder, leaf.constData(), uid_t(metadata.uid), gid_t(metadata.gid),
                   AT_SYMLINK_NOFOLLOW)
                != 0
            && !ownersRefused(errno))
        || (withMode
            && ::fchmodat(folder, leaf.constData(), mode_t(modeFor(metadata.mode)), 0) != 0)
        || ::utimensat(folder, leaf.constData(), timesOf(metadata).times, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(name, errno);
    return true;
}

bool RestoreFolder::makeFolder(const QByteArray &given, const EntryMetadata &metadata)
{
    const QByteArray name = safeName(given);
    if (openFolder(name, true) < 0)
        return false;
    // A folder that was there before belongs to the user: left as it is.
    if (m_madeFolders.contains(name))
        m_folderMetadata.insert(name, metadata);
    return true;
}

bool RestoreFolder::finishFolders()
{
    QVector<QPair<int, QByteArray>> byDepth;
    for (auto it = m_folderMetadata.cbegin(); it != m_folderMetadata.cend(); ++it)
        byDepth.append({ int(it.key().count('/')), it.key() });
    // The deepest first: a folder closed to writing must not stop its contents' changes.
    std::sort(byDepth.begin(), byDepth.end(), [](const auto &a, const auto &b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    });
    bool done = true;
    for (const auto &folder : qAsConst(byDepth)) {
        const QByteArray &name = folder.second;
        const int fd = openFolder(name, false);
        done = fd >= 0 && applyMetadata(fd, name, m_folderMetadata.value(name)) && done;
    }
    m_folderMetadata.clear();
    return done;
}

} // namespace Quorlin
