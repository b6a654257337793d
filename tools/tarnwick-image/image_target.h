#pragma once
/**
 * @file
 * The image file of one run, written so that nothing on disk is destroyed:
 * the image is written as "<name>.partial", created exclusively and never
 * through a symbolic link, and renamed onto its name only once it is whole
 * (and on the disk). A run that fails or is interrupted leaves the partial
 * file (when it holds anything) and never touches a file of the final name;
 * --force only lets a complete image replace one.
 */
#include "tools/tarnwick-image/options.h"

#include <QByteArray>

class ImageTarget
{
public:
    /// --output as given, or the window's name for an image in --folder.
    explicit ImageTarget(const Options &options);
    ~ImageTarget();
    ImageTarget(const ImageTarget &) = delete;
    ImageTarget &operator=(const ImageTarget &) = delete;

    const QByteArray &path() const { return m_path; }
    QByteArray partialPath() const { return m_path + ".partial"; }
    /// Where the image is now: its name once placed, else the partial name.
    QByteArray currentPath() const { return m_placed ? m_path : partialPath(); }
    int fd() const { return m_fd; }
    bool placed() const { return m_placed; }

    /**
     * Makes sure the image can be written before the tape is touched: refuses
     * what must not be written over and creates the partial file. Returns an
     * exit code after saying what is wrong.
     */
    int claim();

    /// The folder's volume must be writable and hold @p totalBytes. Returns an exit code.
    int checkSpace(qint64 totalBytes) const;

    /**
     * The image is whole: to the disk, then under its name. An existing image
     * is replaced only with --force and @p complete. Returns an exit code;
     * 0 also when a not-complete image was left as the partial file rather
     * than replace an existing one (placed() tells, and a message said so).
     */
    int place(bool complete);

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
