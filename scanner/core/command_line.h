#pragma once
#include <QStringList>

class QTextStream;

namespace Quorlin {

struct ExtractOptions;

/// True when @p arguments (the program name first) ask for a mode without a window.
bool isCommandLineMode(const QStringList &arguments);

/// Reads the options at the front of @p arguments into @p options and the
/// rest into @p rest. False on an unknown option or a size that is not one.
bool parseOptions(const QStringList &arguments, ExtractOptions *options, QStringList *rest);

/// Runs "--list IMAGE" or "--extract IMAGE DIR [PATTERN...]" with their
/// options. Returns the exit code: 0 all well, 1 something was damaged or not
/// written, 2 wrong usage, 3 all well with what the image holds, but it does not
/// hold the whole tape.
int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace Quorlin
