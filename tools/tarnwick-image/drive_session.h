#pragma once
/**
 * @file
 * The tape drive as the window's connection sequence and destination page
 * leave it before "Create": opened, loaded, ready, the medium's figures read
 * and its block size set. Each step returns an exit code (0 when it worked)
 * after saying what went wrong.
 */

#include <QString>

namespace DriveSession {

/// The file the platform layer opens for "//./Tape0", for messages.
QString devicePath();

/// Opens "//./Tape0" and loads the tape on the load worker (up to four tries).
int connect();

/// The drive-ready check of "Create".
int checkReady();

/// The media query that choosing a block size makes, then the drive's block size
/// (0: variable blocks, as the window leaves it between runs).
int prepareMedia(unsigned driveBlockSize);

/// Ejects the tape; a failure is only reported, the image is complete by then.
void eject();

} // namespace DriveSession
