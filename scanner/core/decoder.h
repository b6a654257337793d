#pragma once
#include <QString>

#include <cstddef>
#include <memory>

namespace Quorlin {

enum class Compression { None, Gzip, Bzip2, Xz, Lzip, Zstd, Lz4, Compress, LzmaAlone, Lzop };

/// The compressed stream whose header starts at @p data, by the cheap checks
/// that run at every possible start: magic, then the header fields around it.
Compression detectCompression(const unsigned char *data, std::size_t available);
QString compressionName(Compression kind);

/**
 * One compressed stream, decoded a piece at a time by its own library. It
 * stops exactly where the stream ends (so whatever follows, zeros of a tape
 * mark or the next tape file, is never taken for more of it), and hands out
 * everything it could decode before damage.
 */
class Decoder
{
public:
    enum class Status { Working, End, Error };
    virtual ~Decoder() = default;
    /// Decodes from @p in into @p out and moves both on. Working with nothing
    /// moved means the decoder needs more input.
    virtual Status step(
        const unsigned char *&in, std::size_t &inLeft, unsigned char *&out, std::size_t &outLeft)
        = 0;
    /// Makes the decoder ready for a further stream of the same kind.
    virtual bool restart() = 0;
    virtual QString error() const = 0;
};

/// A decoder for @p kind; null for None and for kinds left to libarchive (compress).
std::unique_ptr<Decoder> makeDecoder(Compression kind);

} // namespace Quorlin
