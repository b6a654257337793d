#pragma once
/**
 * @file
 * Backup media in the Microsoft Tape Format, as Windows backup programs write
 * them to tape and to .bkf files: a TAPE block, then backup sets (SSET ...
 * ESET) of folders and files, each a descriptor block followed by its streams,
 * every block starting on the media's format logical block. Each set becomes
 * one archive whose entries carry where their data lies in the stream; the
 * scanner restores them itself.
 */
#include "scanner/core/scan_result.h"

#include <QSet>

#include <cstddef>

namespace Quorlin {

class BodyStream;
class RecordLayout;
struct RestoreRun;

/// The format name a set read here carries (FoundArchive::format).
extern const char mtfSetFormat[];

/// True when a TAPE descriptor block with a good header checksum and a
/// plausible format logical block size starts at @p data.
bool isMtfTapeBlock(const unsigned char *data, std::size_t available);

struct MtfRead
{
    QVector<FoundArchive> sets;
    qint64 end = 0; ///< where the last block read ends: the scan goes on there
};

/// Reads the media whose TAPE block is at stream offset @p begin, across
/// filemarks (soft or real), up to EOTM, data that is no block outside a set,
/// or @p end. Blocks @p layout names unreadable make what they hold damaged.
MtfRead readMtfMedia(BodyStream &stream, const RecordLayout &layout, qint64 begin, qint64 end);

/// Writes the chosen entries of the set that is archive @p index (see restoreArchive).
bool restoreMtfSet(const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run);

} // namespace Quorlin
