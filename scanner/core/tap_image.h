#pragma once
#include "scanner/core/scan_result.h"

namespace Quorlin {

/// Walks a SIMH .tap file's records and tape marks (with the project's .tap
/// reader) and lays its data out as the stream the scan reads: records back
/// to back, tape files where the marks are, unreadable records flagged. What
/// follows a damaged record frame is kept as raw bytes.
ImageFacts readTapFacts(const QString &path);

} // namespace Quorlin
