#pragma once
/**
 * @file
 * The signals that ask a long run to stop (SIGINT, SIGTERM, SIGHUP), caught so
 * that the run can leave what it has read in a state that says what it is,
 * and SIGXFSZ ignored, so that a file-size limit (ulimit -f) makes a write
 * fail (EFBIG) like a full disk instead of killing the process unannounced.
 */
#include <QString>

namespace StopSignals {

/// Installs the handlers. Call once, before any other thread starts.
void install();

/// The signal that asked to stop, or 0.
int received();

/// Ends the process by @p signal with its default action, as if it had not been caught,
/// so that a shell sees how it ended. Does not return.
[[noreturn]] void endBy(int signal);

/// @p signal as people know it ("SIGTERM"), or "signal N" for one without a name here.
QString name(int signal);

} // namespace StopSignals
