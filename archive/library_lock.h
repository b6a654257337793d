#pragma once
/**
 * @file
 * What keeps two batches apart: one holds its folder (both would write the same
 * journal rows and move the same cartridges) and its changer (the robots' moves
 * would interleave and one would pull the other's cartridge). Each is an
 * exclusive flock on a lock file that stays in place; the kernel drops it when
 * the holder ends, however it ends. The holder writes its process id into the
 * file, so that a batch refused can say who holds it.
 */
#include <QString>

namespace Library {

class BatchLock
{
public:
    enum class Outcome {
        Taken,
        Held, ///< another process holds it
        Refused, ///< the lock file cannot be used (a link, not a plain file, no access)
    };

    BatchLock() = default;
    ~BatchLock();
    BatchLock(const BatchLock &) = delete;
    BatchLock &operator=(const BatchLock &) = delete;

    /**
     * Takes the lock at @p path, made when missing and never followed through a link.
     * Unless Taken, @p problem says why in one line, naming @p what ("the folder /x")
     * and the holder's process id where it wrote one.
     */
    Outcome take(const QString &path, const QString &what, QString &problem);

private:
    int m_fd = -1;
};

/// The lock file of a batch over the folder @p folder.
QString folderLockPath(const QString &folder);

/**
 * The lock file of the changer at @p node: keyed by @p identity (the changer's vendor,
 * product and serial number) when it has one, so that its changer node and its generic
 * node share one lock, else by the node's device number. In @p sharedFolder when that is
 * world-writable with the sticky bit, one name for every user (the file is made 0666 there);
 * else in the user's runtime folder. Empty, with @p problem, when no folder can be used or
 * the node cannot be read.
 */
QString changerLockPath(const QString &node, const QString &identity, QString &problem,
    const QString &sharedFolder = QStringLiteral("/run/lock"));

} // namespace Library
