#pragma once
#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>

#include <functional>

namespace Quorlin {

/// The metadata an archive gives an entry; what is not set is left alone.
struct EntryMetadata
{
    uint mode = 0644; ///< permission bits, setuid, setgid and sticky included
    bool hasMtime = false;
    qint64 mtime = 0; ///< seconds since 1970, negative before
    long mtimeNsec = 0;
    bool hasAtime = false;
    qint64 atime = 0;
    long atimeNsec = 0;
    qint64 uid = 0;
    qint64 gid = 0;
};

/// How much of the metadata is restored. The default is what a user who is
/// not root gets: modes less the umask and less setuid and setgid, times, and
/// files owned by whoever extracts.
struct RestorePolicy
{
    bool keepSetuid = false; ///< modes exactly as stored, setuid and setgid included
    bool owners = false; ///< owners and groups as stored, device files made (needs root)
    /// Names as a file system made for other systems takes them, whatever the folder's is.
    bool escapeNames = false;
};

class RestoreFolder;

/// Makes SIGTERM, SIGINT and SIGHUP remove the temporary files being written
/// before the process ends as the signal would end it.
void removeTemporariesOnSignals();

/// A file being written under a temporary name in its folder. It gets its
/// real name only from RestoreFolder::place(); dropped before that, it is removed.
class RestoreFile
{
public:
    RestoreFile() = default;
    RestoreFile(RestoreFile &&other) noexcept;
    RestoreFile &operator=(RestoreFile &&other) noexcept;
    RestoreFile(const RestoreFile &) = delete;
    RestoreFile &operator=(const RestoreFile &) = delete;
    ~RestoreFile();

    bool isOpen() const { return m_fd >= 0; }
    /// Writes @p size bytes at @p offset; a gap before it reads as zeros.
    bool write(const void *data, qint64 size, qint64 offset);
    bool setLength(qint64 length);
    QString errorString() const { return m_error; }

private:
    friend class RestoreFolder;

    /// Makes SIGTERM, SIGINT and SIGHUP remove the temporary files being written
    /// before the process ends as the signal would end it.
    void removeTemporariesOnSignals();
    void close();

    int m_folder = -1; ///< the folder it is written in
    int m_fd = -1;
    QByteArray m_temporary; ///< its temporary name; empty once placed or when it existed
    QByteArray m_leaf; ///< the last component of m_name
    QByteArray m_name; ///< the name it is meant to get
    bool m_modeGiven = false; ///< made with the mode it keeps
    int m_slot = -1; ///< where a signal handler finds its temporary name
    QString m_error;
};

/**
 * The folder an extraction writes into. Names are bytes, as the archives hold
 * them, relative to the folder. Each name is resolved one component at a time
 * from the folder's own handle, never through a symbolic link, so no entry can
 * lead a write outside the folder, whatever links earlier entries made. No
 * existing file is replaced: a name that is taken gets ".2", ".3", ...
 * Every call that makes something returns the name it used, or an empty name
 * when it failed (errorString() says why).
 */
class RestoreFolder
{
public:
    explicit RestoreFolder(const RestorePolicy &policy);
    ~RestoreFolder();
    RestoreFolder(const RestoreFolder &) = delete;
    RestoreFolder &operator=(const RestoreFolder &) = delete;

    /// Creates @p path when missing and opens it.
    bool open(const QString &path);
    QString errorString() const { return m_error; }

    /// Starts the file @p name (its folders are made as needed) that will have
    /// the mode @p mode.
    RestoreFile create(const QByteArray &name, uint mode);
    /// Opens the file @p name, made earlier in this run, to write its data again.
    RestoreFile reopen(const QByteArray &name);
    /// Gives @p file its metadata, closes it, and puts it in place under the
    /// name it was created for with @p suffix (or a free name beside it).
    QByteArray place(
        RestoreFile &file, const EntryMetadata &metadata, const QByteArray &suffix = {});
    /// Gives a file reopened with reopen() its metadata and closes it.
    bool finish(RestoreFile &file, const EntryMetadata &metadata);

    QByteArray hardLink(const QByteArray &existing, const QByteArray &name);
    QByteArray symbolicLink(
        const QByteArray &target, const QByteArray &name, const EntryMetadata &metadata);
    /// A fifo, or a device file (only when owners are restored); @p type is S_IFIFO etc.
    QByteArray special(
        const QByteArray &name, uint type, quint64 device, const EntryMetadata &metadata);
    /// Makes the folder @p name; its mode and times are set by finishFolders(),
    /// after everything inside it was written.
    bool makeFolder(const QByteArray &name, const EntryMetadata &metadata);
    /// Sets the folders' modes and times, the deepest first.
    bool finishFolders();
    /// Owners were asked for, but the system refused to give files away (not root).
    bool ownersNotKept() const { return m_ownersNotKept; }
    /// The folder's file system refuses some names (vfat, NTFS, exFAT, SMB): names with
    /// : \ ? * " < > |, control characters or trailing dots and spaces are written with
    /// those bytes as %XX. Empty when names are written as they are.
    QString refusingFileSystem() const { return m_refusing; }
    /// Names the folder's file system refused when they were made (EINVAL, EILSEQ, or
    /// ENAMETOOLONG), written escaped (and shortened, when too long) instead.
    bool refusedAtCreation() const { return m_refusedAtCreation; }
    /// For tests: @p refuse is asked before a name is made in a folder and an error it
    /// returns is taken as the system's answer (a file system that refuses the name);
    /// 0 leaves the answer to the system. Empty: the system answers alone.
    static void setNameRefusal(std::function<int(const QByteArray &leaf)> refuse);
    /// Writes the map of the names written escaped to the names they stand for, when there
    /// are any; the map's name, or empty. @p count gets how many.
    QByteArray writeNameMap(int *count);

private:
    int folderOf(const QByteArray &name, QByteArray *leaf);
    /// The folder @p folder below the root, made when missing and @p create; the
    /// descriptor stays the folder's own (it is closed by a later walk).
    int openFolder(const QByteArray &folder, bool create);
    QByteArray makeFree(const QByteArray &leaf, const QByteArray &name,
        const std::function<int(const char *)> &make);
    uint modeFor(uint stored) const;
    RestoreFile openFile(const QByteArray &name, bool fresh, uint mode);
    /// @p modeGiven: the file was made with its mode already.
    bool applyMetadata(
        int fd, const QByteArray &name, const EntryMetadata &metadata, bool modeGiven = false);
    /// The same by name in @p folder, for what cannot be opened (links, devices).
    bool applyMetadataAt(
        int folder, const QByteArray &name, const EntryMetadata &metadata, bool withMode);
    bool fail(const QByteArray &name, int error);
    /// After a refused change of owner (@p error): whether to go on without owners.
    bool ownersRefused(int error);
    QByteArray removeMade(int folder, const QByteArray &name);
    /// @p name as the folder's file system takes it; names changed are kept for the map.
    QByteArray safeName(const QByteArray &name);
    /// Makes @p leaf in @p folder by @p make; when the system refuses the name itself,
    /// with the name escaped (kept in the map as @p path) instead. The leaf used, or
    /// empty (errno says why).
    QByteArray makeName(const QByteArray &leaf, const QByteArray &path,
        const std::function<int(const char *)> &make);
    /// The on-disk path of folder @p folder, as names refused when made changed it.
    QByteArray onDisk(const QByteArray &folder) const;

    RestorePolicy m_policy;
    uint m_umask;
    QByteArray m_pid; ///< in temporary names
    int m_root = -1;
    /// The folders of the last walk, from the root down; the shallower ones closed
    /// (fd -1) beyond heldLimit.
    struct Held
    {
        int end; ///< where its name ends in m_heldPath
        int fd;
    };
    static constexpr int heldLimit = 256;
    QVector<Held> m_held;
    QByteArray m_heldPath;
    int m_heldOpen = 0;
    int m_firstHeld = 0; ///< none before it is open
    QSet<QByteArray> m_madeFolders; ///< made in this run, so theirs to set
    QHash<QByteArray, EntryMetadata> m_folderMetadata;
    QString m_error;
    int m_temporaries = 0;
    bool m_ownersNotKept = false;
    QString m_refusing;
    QMap<QByteArray, QByteArray> m_escaped; ///< escaped name to the name it stands for
    /// Folders whose name the file system refused when made: the name used instead
    QHash<QByteArray, QByteArray> m_refusedFolders;
    bool m_refusedAtCreation = false;
};

} // namespace Quorlin
