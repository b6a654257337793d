#pragma once
#include "scanner/core/decoder.h"

#include <cstddef>
#include <memory>

namespace Quorlin {

/// Whether an LZMA-alone stream (the .lzma files of the old lzma tools) starts
/// at @p data. Its 13-byte header has no magic, so every field must hold a
/// value the tools write, the range coder's first byte must be zero, and what
/// is in view must decode without error.
bool isLzmaAloneStart(const unsigned char *data, std::size_t available);

std::unique_ptr<Decoder> makeLzmaAloneDecoder();

} // namespace Quorlin
