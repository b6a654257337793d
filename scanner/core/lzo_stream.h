#pragma once
#include "scanner/core/decoder.h"

#include <cstddef>
#include <memory>

namespace Quorlin {

/// Whether an lzop file starts at @p data: its magic, a header of fields lzop
/// writes, and the header's own checksum, all in view.
bool isLzopStart(const unsigned char *data, std::size_t available);

/// Decodes one lzop file block by block. Each block's checksums are checked
/// before any of it is handed out, so damage never reaches the output.
std::unique_ptr<Decoder> makeLzopDecoder();

} // namespace Quorlin
