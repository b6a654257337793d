#pragma once
#include <cstddef>

namespace Quorlin {

/// The kinds of stream start the scanner looks for before asking libarchive.
enum class Signature { None, Tar, Cpio, Gzip, Bzip2, Xz, Compress };

/// Looks at the bytes at a possible stream start. @p available may be short
/// near the end of the body. Cheap checks first: this runs at every step.
Signature detectSignature(const unsigned char *data, std::size_t available);

/// True when @p header is a tar header with a matching checksum.
bool isTarHeader(const unsigned char *header, std::size_t available);

/// True when the @p length bytes at @p data are all zero.
bool allZero(const unsigned char *data, std::size_t length);

} // namespace Quorlin
