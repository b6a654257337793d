#pragma once
#include <cstddef>

namespace Quorlin {

/// The kinds of stream start the scanner looks for before asking a reader.
enum class Signature { None, Tar, Cpio, Zip, Compressed, Dump, Amanda, Mtf, Label };

/// Bytes a check may look at: a dump volume's header record.
constexpr std::size_t signatureLength = 1024;

/// Looks at the bytes at a possible stream start. @p available may be short
/// near the end of the body. Cheap checks first: this runs at every step. A
/// magic alone is never enough: the header around it must make sense too, or
/// data full of magics would have every one of them tried.
Signature detectSignature(const unsigned char *data, std::size_t available);

/// True when @p header is a tar header with a matching checksum.
bool isTarHeader(const unsigned char *header, std::size_t available);

/// True when the @p length bytes at @p data are all zero.
bool allZero(const unsigned char *data, std::size_t length);

} // namespace Quorlin
