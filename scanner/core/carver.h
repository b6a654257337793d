#pragma once
#include "scanner/core/scan_result.h"

#include <atomic>
#include <functional>

namespace Quorlin {

/// Called now and then with the bytes of the body scanned so far.
using ScanProgress = std::function<void(qint64 done, qint64 total)>;

/// Reads the trailer and decides how the body is stepped through.
ImageFacts readImageFacts(const QString &path);

/// Scans the body of the image at @p path for archives and raw regions. Reads
/// the file in large sequential pieces and never holds more than a few MiB of
/// it; stops early, with result.cancelled set, when @p cancel turns true.
ScanResult scanImage(const QString &path, const ScanProgress &progress = {},
    const std::atomic<bool> *cancel = nullptr);

} // namespace Quorlin
