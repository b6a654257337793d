#pragma once
/**
 * @file
 * The image file of one run: where it goes, that it may be created there,
 * that the volume can take the tape's data, and what is left behind when the
 * run fails.
 */
#include "tools/tarnwick-image/options.h"

#include <QString>

class ImageTarget
{
public:
    /// --output as given, or the window's name for an image in --folder.
    explicit ImageTarget(const Options &options);

    QString path() const { return m_path; }

    /**
     * Makes sure the file can be written before the tape is touched: without
     * --force an existing file is refused and the file is created here, so no
     * other program can take the name meanwhile. Returns an exit code.
     */
    int claim();

    /// The folder's volume must be writable and hold @p totalBytes. Returns an exit code.
    int checkSpace(qint64 totalBytes) const;

    /// After a failed run: an empty file holds nothing of the tape, so it goes. Returns
    /// whether a non-empty file remains.
    bool tidyAfterFailure() const;

private:
    QString folder() const;

    QString m_path;
    bool m_force = false;
};
