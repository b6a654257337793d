#pragma once
/**
 * @file
 * How the archival steps speak. A step that fails returns why (a Failure, which
 * the command line turns into its exit code) after saying what went wrong; a step
 * that goes on despite something says so. Both go to the one sink that whoever
 * runs the archive sets (the command line: its console, prefixed with its name).
 */
#include <QByteArray>
#include <QString>

namespace Archive {

/// Why a step of a run could not go on.
enum class Failure {
    None, ///< it worked
    NoDrive, ///< the tape drive cannot be opened (missing, in use, no access)
    NotReady, ///< no medium, or the drive is not ready
    LoadFailed, ///< the tape could not be loaded
    CannotCreate, ///< the image file cannot be created, or must not be written over
    WriteFailed, ///< not enough room, or a write failed
};

/// Receives every message of the archive; without one they are dropped.
using NoticeSink = void (*)(const QString &message);
void setNoticeSink(NoticeSink sink);

/// Passes @p message on to the sink.
void say(const QString &message);
/// Says @p message and returns @p failure, for `return Archive::fail(...)`.
Failure fail(Failure failure, const QString &message);

/// @p path for a message (a name that is not valid UTF-8 shows replacement characters).
QString shown(const QByteArray &path);

} // namespace Archive
