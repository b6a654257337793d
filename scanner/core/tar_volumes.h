#pragma once
#include "scanner/core/archive_restore.h"
#include "scanner/core/scan_result.h"

namespace Quorlin {

class BodyStream;

/// Finds the members of multi-volume tars that one tape file ends inside and the
/// continuation headers at the start of the next ones carry on (their name and
/// offset say which member and where), and records them in @p result. A member
/// whose parts are all in the image is no longer damaged, nor is the archive
/// that only its cut made damaged; one with a part missing stays damaged, and
/// what is missing is said.
void joinTarVolumes(ScanResult *result, BodyStream &stream);

/// Writes @p member from its parts below "archive-N" (N of its first part), as
/// NAME.damaged when a part is missing. True when written whole.
bool restoreSplitMember(const ScanResult &result, const SplitMember &member, RestoreRun &run);

} // namespace Quorlin
