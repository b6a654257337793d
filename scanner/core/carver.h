#pragma once
#include "scanner/core/image_facts.h"
#include "scanner/core/scan_result.h"

#include <atomic>

namespace Quorlin {

/// Scans the body of the image at @p path for archives and raw regions. Reads
/// the file in large sequential pieces and never holds more than a few MiB of
/// it; stops early, with result.cancelled set, when @p cancel turns true.
ScanResult scanImage(const QString &path, const ScanProgress &progress = {},
    const std::atomic<bool> *cancel = nullptr);

} // namespace Quorlin
