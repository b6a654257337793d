#pragma once
#include "scanner/core/scan_result.h"

#include <atomic>
#include <functional>

namespace Quorlin {

/// Called now and then with the bytes of the body scanned so far.
using ScanProgress = std::function<void(qint64 done, qint64 total)>;

/// Reads the trailer and decides how the body is read. Cheap: reads only the
/// end of the file. The padding of T < S images is not looked at here.
ImageFacts readImageFacts(const QString &path);

/// True when the trailer says each record may be T bytes of data padded with
/// zeros to S: a run at a block size larger than the tape's blocks.
bool mayBePadded(const ImageFacts &facts);

/// Reads the whole body to make sure that every record holds only zeros after
/// its first T bytes; if so, @p facts is set to leave that padding out. When a
/// record holds data there, T was not the length of every block, and cutting
/// would lose it: the records are then read whole and the note says why.
/// Returns false when reading failed (@p error says why) or was cancelled.
bool settlePadding(ImageFacts *facts, const ScanProgress &progress, const std::atomic<bool> *cancel,
    QString *error);

} // namespace Quorlin
