#pragma once
#include "scanner/core/scan_result.h"

#include <cstddef>

namespace Quorlin {

class BodyStream;

/// True when @p header (1024 bytes) opens a dump volume: a tape header record
/// with a dump magic number and a matching checksum, in either byte order.
bool isDumpVolumeHeader(const unsigned char *header, std::size_t available);

/// Walks the dump volume that starts at stream offset @p begin, record header
/// by record header, to its end record, so what the volume stores (files that
/// may be archives themselves) is stepped over, not scanned. Returns the region
/// it covers, named with the volume's label; when the walk loses its way, the
/// region ends there and the label says so.
RawRegion readDumpVolume(BodyStream &stream, qint64 begin, qint64 end);

} // namespace Quorlin
