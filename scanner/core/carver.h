#pragma once
#include "scanner/core/image_facts.h"
#include "scanner/core/scan_result.h"

#include <atomic>

namespace Quorlin {

/// Scans the body of the image at @p path for archives and raw regions. Reads
/// the file in large sequential pieces and never holds more than a few MiB of
/// it; stops early, with result.cancelled set, when @p cancel turns true.
/// @p volumes: further images of the same tape set, read after it as its next
/// volumes, so what one volume leaves off the next can carry on.
ScanResult scanImage(const QString &path, const ScanProgress &progress = {},
    const std::atomic<bool> *cancel = nullptr, const QStringList &volumes = {});

} // namespace Quorlin
