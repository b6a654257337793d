#pragma once
#include <QStringList>

class QTextStream;

namespace Quorlin {

/// True when @p arguments (the program name first) ask for a mode without a window.
bool isCommandLineMode(const QStringList &arguments);

/// Runs "--list IMAGE" or "--extract IMAGE DIR [PATTERN...]". Returns the exit
/// code: 0 all well, 1 something was damaged or not written, 2 wrong usage.
int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace Quorlin
