#pragma once
#include "scanner/core/scan_result.h"

#include <atomic>
#include <functional>

namespace Quorlin {

/// Called now and then with the bytes of the body scanned so far.
using ScanProgress = std::function<void(qint64 done, qint64 total)>;

/// True for a name the scanner opens as a SIMH .tap file rather than a .tape image.
bool isTapPath(const QString &path);

/// Reads the trailer (or walks a .tap file's records) and decides how the body
/// is read. Cheap for a .tape image: reads only the end of the file. A trailer
/// that does not fit the file is not taken for one. The padding of T < S
/// images is not looked at here.
ImageFacts readImageFacts(const QString &path);

/// Marks the spans the run record names as unreadable in the layout; after the
/// padding is settled, as the layout then changes.
void markRecordedDamage(ImageFacts *facts);

/// True when the trailer says each record may be tape data padded with zeros
/// to S: a run at a block size larger than the tape's blocks.
bool mayBePadded(const ImageFacts &facts);

/**
 * Reads the whole body and decides, for each stretch of records between
 * all-zero ones (a tape file), how many bytes of each record are the tape's
 * block and how many are padding: never fewer than its last non-zero byte
 * needs, so no data is cut. @p facts then leaves the padding out. When every
 * record holds data up to S, the records are read whole and the note says why.
 * Returns false when reading failed (@p error says why) or was cancelled.
 */
bool settlePadding(ImageFacts *facts, const ScanProgress &progress, const std::atomic<bool> *cancel,
    QString *error);

} // namespace Quorlin
