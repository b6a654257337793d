#pragma once
#include "scanner/core/archive_restore.h"
#include "scanner/core/scan_result.h"

namespace Quorlin {

class BodyStream;

/// Whether @p archive is a dump read by readDumpArchive() (its format names it so).
bool isDumpArchive(const FoundArchive &archive);

/// Reads the dump whose first volume starts at stream offset @p begin (its tape
/// header), joined with the volumes that continue it in the tape files after
/// it, and lists its files by name, folders first. A record that cannot be
/// read loses the files whose data it holds (named damaged) and no others.
/// False when no file can be listed (the volume is then kept whole as data).
bool readDumpArchive(
    const ImageFacts &facts, BodyStream &stream, qint64 begin, FoundArchive *archive);

/// Writes the entries @p entries of the dump archive @p index below "archive-N":
/// folders, files with their holes, symbolic and hard links, fifos and devices,
/// with their modes, times and (when asked) owners. True when all were whole.
bool restoreDumpArchive(
    const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run);

} // namespace Quorlin
