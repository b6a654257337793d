#pragma once
/**
 * @file
 * Layer archive/ (library tarnwick_archive): what a run that reads a tape needs
 * beyond the engine: this drive session, the watched tape and its log, the run
 * record, hashing, the image target, the imaging run that ties them together,
 * the engine's unattended front end, the verdict and its report. Uses tape/, imaging/ and the
 * platform layers; no widgets and no console (messages go through notices.h).
 * The window and the command line sit above it.
 *
 * The tape drive as the window's connection sequence and destination page
 * leave it before "Create": opened, loaded, ready, the medium's figures read
 * and its block size set. Each step returns why it failed (Failure::None when
 * it worked) after saying what went wrong.
 *
 * The window's connection code opens and loads the drive through open() and
 * load(); sense data and other drive details would be read here, beside the
 * handle.
 */

#include "archive/notices.h"
#include "archive/run_record.h"
#include "platform/backend/win32_types.h"

#include <QString>

namespace DriveSession {

/// The file the platform layer opens for "//./Tape0", for messages.
QString devicePath();

/// Opens "//./Tape0" into the imaging state's tape handle; false when it cannot be opened
/// (GetLastError() tells why).
bool open();
/// Loads the tape on the load worker (up to four tries); its status is left in the imaging state.
DWORD load();

/// open() and load(), saying what went wrong.
Archive::Failure connect();

/// The drive-ready check of "Create".
Archive::Failure checkReady();

/// The media query that choosing a block size makes, then the drive's block size
/// (0: variable blocks, as the window leaves it between runs).
Archive::Failure prepareMedia(unsigned driveBlockSize);

/// Who the drive is, into @p record (what it does not say stays empty).
void describe(RunRecord::Record &record);

/// Ejects the tape; a failure is only reported, the image is complete by then.
void eject();

} // namespace DriveSession
