#pragma once
/**
 * @file
 * What tarnwick-image says: one line per message on stderr, prefixed with the
 * program's name, so that a script's log tells which tool spoke.
 */
#include <QString>

namespace Console {

/// Writes "tarnwick-image: @p message" and a line end to stderr.
void say(const QString &message);

/// Says @p message and returns @p exitCode, for `return Console::fail(...)`.
int fail(int exitCode, const QString &message);

/// Writes @p text to stdout as it stands.
void out(const QString &text);

/// Writes the file name @p path and a line end to stdout, byte for byte, for scripts.
void outPath(const QByteArray &path);

/// @p path for a message (a name that is not valid UTF-8 shows replacement characters).
QString shown(const QByteArray &path);

/// Writes @p text to stderr as it stands (progress, no prefix).
void raw(const QString &text);

/// Whether stderr is a terminal (a progress bar then rewrites its line).
bool stderrIsTerminal();

} // namespace Console
