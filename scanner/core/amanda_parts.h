#pragma once
#include "scanner/core/scan_result.h"

#include <atomic>

namespace Quorlin {

class BodyStream;

/// Joins the parts of Amanda dumps split over several tape files: each part's
/// tape file opens with a header naming the dump and the part's number. The
/// archive that starts behind the first part's header is read again from the
/// parts' data back to back, in the order of their numbers, and replaces what
/// the scan found in them one by one. A part missing, or there twice with other
/// bytes, ends the join: what the archive held from there on is damaged, and
/// the headers' labels say why.
void joinAmandaParts(ScanResult *result, BodyStream &stream, const std::atomic<bool> *cancel);

/// The result as the joined archive @p index reads it: its stream is the parts
/// back to back. @p result itself when the archive is no joined one.
const ScanResult &joinedView(const ScanResult &result, int index, ScanResult *storage);

} // namespace Quorlin
