#pragma once
#include "scanner/core/decoded_source.h"
#include "scanner/core/region_source.h"
#include "scanner/core/scan_result.h"

#include <atomic>
#include <memory>

struct archive;
struct archive_entry;

namespace Quorlin {

/// A libarchive reader over [begin, end) of the image, for the archive kinds
/// tapes carry: tar, cpio and zip, plain or compressed (gzip, bzip2, xz, lzip,
/// zstd and lz4 are decoded here, compress by libarchive).
class ArchiveStream
{
public:
    enum Mode { Archive, RawData };
    ArchiveStream(const ImageFacts &facts, qint64 begin, qint64 end, Mode mode = Archive);
    /// The same when the compression at @p begin is known already.
    ArchiveStream(
        const ImageFacts &facts, qint64 begin, qint64 end, Compression compression, Mode mode);
    ~ArchiveStream();
    ArchiveStream(const ArchiveStream &) = delete;
    ArchiveStream &operator=(const ArchiveStream &) = delete;

    bool isOpen() const { return m_open; }
    archive *handle() const { return m_archive; }
    /// Stream bytes consumed so far, counted from begin.
    qint64 consumed() const;
    bool isCompressed() const;
    QString filterName() const;
    QString errorString() const;
    /// For a stream decoded here: decodes what is left after the archive's end,
    /// so consumed() tells where the compressed stream ends. False when it
    /// breaks off first (decodeError() says why).
    bool finishStream();
    /// Stream offset where decoding broke off; -1 while it has not.
    qint64 decodeErrorAt() const;
    QString decodeError() const;
    /// Once decoding broke off: where the input known to be good ends, and the
    /// decoded bytes made from it (see DecodedSource); -1 before.
    qint64 goodInputEnd() const;
    qint64 goodDecoded() const;
    /// Decoded bytes made before the first record flagged as unreadable; -1 when none.
    qint64 decodedAtUnreadable() const;
    /// Bytes of the archive itself (decoded, when compressed) consumed so far.
    qint64 decodedPosition() const;

private:
    archive *m_archive;
    Compression m_compression;
    std::unique_ptr<RegionSource> m_region;
    std::unique_ptr<DecodedSource> m_decoded;
    bool m_open = false;
};

/// The compression of the stream at @p begin, from its first bytes.
Compression compressionAt(const ImageFacts &facts, qint64 begin);

/// Entry facts as the scanner reports them.
FoundEntry describeEntry(archive_entry *entry);

} // namespace Quorlin
