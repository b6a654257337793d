#pragma once
/**
 * @file
 * The image file of one run, written so that nothing on disk is destroyed:
 * the image is written as "<name>.partial", created exclusively and never
 * through a symbolic link, and renamed onto its name only once it is whole
 * (and on the disk). A run that fails or is interrupted leaves the partial
 * file (when it holds anything) and never touches a file of the final name;
 * --force only lets a complete image replace one.
 *
 * A run owns its partial file: it holds a lock on it from before the drive is
 * opened to its end, and no other run, --force or not, removes, replaces or
 * renames a partial file whose lock is held. The lock goes with the process,
 * so a killed run's files may be taken over.
 */
#include "archive/notices.h"

#include <QByteArray>

#include <functional>

class ImageTarget
{
public:
    struct Settings
    {
        QByteArray output; ///< the image's path, or empty for a name of the window's kind
        QByteArray folder; ///< where that name goes
        bool tapName = false; ///< ".tap" instead of ".tape"
        bool force = false; ///< a complete image may replace an existing file
        bool sync = true; ///< to the disk before the rename
    };

    /// @p settings' output as given, or the window's name for an image in its folder.
    explicit ImageTarget(const Settings &settings);
    ~ImageTarget();
    ImageTarget(const ImageTarget &) = delete;
    ImageTarget &operator=(const ImageTarget &) = delete;

    const QByteArray &path() const { return m_path; }
    QByteArray partialPath() const { return m_path + ".partial"; }
    /// Where the image is now: its name once placed, else the partial name.
    QByteArray currentPath() const { return m_placed ? m_path : partialPath(); }
    int fd() const { return m_fd; }
    /// A name of the claimed file for code that opens files by name: the open file itself
    /// where the system offers that, else the partial file's name.
    QString openName() const;
    /**
     * Why a write to the image failed, for "writing NAME failed...": the file size
     * limit when the image reached it, else @p cause (errno's words, or a guess when
     * the writer did not keep errno).
     */
    QString writeFailure(const QString &cause) const;
    /// Takes off a .tape trailer: the engine writes one when its run is stopped, but such
    /// a file is not a whole image.
    void cutTrailer() const;
    bool placed() const { return m_placed; }

    /**
     * Makes sure the image can be written before the tape is touched: refuses
     * what must not be written over and creates the partial file. Returns why
     * not after saying what is wrong.
     */
    Archive::Failure claim();

    /**
     * Claims the partial file an earlier run left, to go on writing at its end (a rescue
     * that resumes): opens it and takes its lock (see holdForRun()); refuses what is not a
     * regular file and one that another run holds. Returns why not after saying so.
     */
    Archive::Failure claimPartial();
    /// Lets go of the partial file claimPartial() took (its lock goes with it).
    void releasePartial();
    /// The partial file was replaced under its name by the file open as @p fd, now the image's.
    void adopt(int fd);

    /**
     * Locks the open file @p fd, named @p path, for this run (the partial file, and any
     * file kept beside it that must not change hands while the run goes on). Fails, after
     * saying which run holds it, when another run does.
     */
    static Archive::Failure holdForRun(int fd, const QByteArray &path);

    /// Called between the last look at the partial file and its rename; for tests that
    /// act in that moment. Empty: nothing.
    static void setBeforeRename(std::function<void()> hook);

    /// The folder's volume must be writable and hold @p totalBytes.
    Archive::Failure checkSpace(qint64 totalBytes) const;

    /**
     * The image is whole: to the disk, then under its name. An existing image
     * is replaced only with --force and @p complete. Failure::None
     * also when a not-complete image was left as the partial file rather
     * than replace an existing one (placed() tells, and a message said so).
     */
    Archive::Failure place(bool complete);

    /// After a failed run: an empty partial file holds nothing of the tape and goes.
    /// Returns whether the partial file remains.
    bool keepWhatWasRead();

private:
    QByteArray m_path;
    bool m_force = false;
    bool m_sync = true;
    int m_fd = -1;
    bool m_placed = false;
};
