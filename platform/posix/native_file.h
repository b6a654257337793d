#pragma once
/**
 * @file
 * Layer platform/posix (library tarnwick_posix): files, stop signals and device
 * node access for the archive and the tools. Uses Qt Core only.
 *
 * Files by their names as the file system holds them: byte strings, which
 * need not be valid UTF-8 (a QString would change such a name). Used where
 * an image is written so that nothing already on disk can be destroyed:
 * created exclusively, never through a symbolic link, put in place by a
 * rename once whole.
 *
 * Calls that fail return false or -1 and leave the reason in errno
 * (errorText() words it).
 */
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace NativeFile {

/// What is at a path; a symbolic link there is not followed.
enum class Kind { Missing, Regular, Directory, SymbolicLink, Other };

/// The kind of @p path, or Missing (also when it cannot be looked at).
Kind kindAt(const QByteArray &path);

/// Creates @p path for writing; fails when anything (a link included) is there. -1 on failure.
int createExclusive(const QByteArray &path);

/**
 * Opens @p path to be written from its first byte: created exclusively or, when a regular
 * file is there already that belongs to this user and has no other name, that file cut to
 * nothing. Anything else at the name (a link, a pipe, a device, another user's file) is
 * refused with EEXIST, and a pipe never makes the call wait. A name that nameOf() gave is
 * followed to the file this process holds open. -1 on failure.
 */
int createOrRewriteOwn(const QByteArray &path);

/// A stdio stream writing to @p fd, which it then owns; null (and @p fd closed) on failure.
std::FILE *writingStream(int fd);

/// Opens the regular file @p path for reading, not through a link at its end; -1 on failure.
int openForReading(const QByteArray &path);

/// Reads all of @p path, at most @p limit bytes; false when it is missing, longer or unreadable.
bool readAll(const QByteArray &path, qint64 limit, QByteArray &content);

/// Closes @p fd (nothing when it is -1). False when the close reported an error.
bool close(int fd);

/**
 * Renames @p from to @p to in one step. Without @p replace it fails (EEXIST)
 * when @p to exists, even when it appeared a moment ago.
 */
bool rename(const QByteArray &from, const QByteArray &to, bool replace);

/// Removes @p path when it is a regular file or a link (the link, not what it names).
bool removeFile(const QByteArray &path);

/// Waits until the file's data are on the disk.
bool sync(int fd);
/// Waits until the folder of @p path holds its new names on the disk.
bool syncFolderOf(const QByteArray &path);

/// Cuts the file to @p length bytes.
bool truncate(int fd, qint64 length);

/// The file's size, or -1.
qint64 size(int fd);

/// Bytes free for an unprivileged user on the volume of @p fd, and whether it is read-only.
bool volumeOf(int fd, qint64 &available, bool &readOnly);

/// Whether @p path still names the open file @p fd (it was not removed or replaced).
bool stillAt(int fd, const QByteArray &path);

/// A name that opens @p fd's file again (for code that opens files by name), or an
/// empty one where the system offers none (/proc not mounted).
QByteArray nameOf(int fd);

/**
 * Takes an exclusive lock (flock) on @p fd's file without waiting: false with EWOULDBLOCK
 * when another open of the file (another run) holds one. The lock goes with the last
 * descriptor of this open, so a killed process leaves none behind.
 */
bool lockExclusive(int fd);

/// Creates @p path as createExclusive() does, with the lock of lockExclusive() held before
/// the name appears, so that no other process sees the file unlocked. -1 on failure.
int createLocked(const QByteArray &path);

/// The process holding a flock on @p fd's file, as the system lists its locks, or -1
/// when that cannot be known.
qint64 lockHolder(int fd);

/// Writes @p data to @p path through a temporary name beside it and a rename.
bool writeReplacing(const QByteArray &path, const QByteArray &data);

/// As writeReplacing(), and the data and then the new name are on the disk before it returns:
/// a reader sees the old file or the new one whole, even after a crash. False with what failed
/// in @p problem (and errno set).
bool writeDurably(const QByteArray &path, const QByteArray &data, QString &problem);

/// The process's file size limit (ulimit -f) in bytes, or -1 when there is none.
qint64 fileSizeLimit();

/// The folder part of @p path ("." when it has none).
QByteArray folderOf(const QByteArray &path);

/// errno of the last failed call, and its text.
int lastError();
QString errorText(int error);

} // namespace NativeFile
