#pragma once
#include "scanner/core/body_stream.h"

#include <QByteArray>

#include <archive.h>

namespace Quorlin {

/// The scan's own memory limit: true (with the error set on @p reader) when
/// libarchive holds more than 64 MiB it has not yet used, of the @p handed
/// bytes given to it so far. One header that names a huge size (a cpio name
/// of gigabytes) would otherwise have the whole image read into memory.
bool holdsTooMuch(archive *reader, qint64 handed);

/// The reading buffers' spares, kept per thread between tries at one possible
/// start after another, which would otherwise have the heap grown and given
/// back at every try. A source swaps one in when made and back when done.
enum class SpareSlot { Region, DecoderInput, DecoderOutput };
QByteArray &spareBuffer(SpareSlot slot);

/// Feeds libarchive the stream bytes [begin, end) of an image through its
/// client callbacks, in large reads, so an archive inside a huge image is
/// streamed and never read past the image body.
class RegionSource
{
public:
    RegionSource(const ImageFacts &facts, qint64 begin, qint64 end);
    ~RegionSource();
    RegionSource(const RegionSource &) = delete;
    RegionSource &operator=(const RegionSource &) = delete;

    /// Opens the file and hands the callbacks to @p reader (archive_read_open).
    /// Returns libarchive's status; a file that cannot be opened gives ARCHIVE_FATAL.
    int open(archive *reader);

    qint64 begin() const { return m_begin; }

private:
    static la_ssize_t readCallback(archive *, void *self, const void **buffer);
    static la_int64_t skipCallback(archive *, void *self, la_int64_t request);

    BodyStream m_stream;
    QByteArray m_buffer;
    qint64 m_begin;
    qint64 m_end;
    qint64 m_position;
    qint64 m_readSize; ///< the next read's size, growing
};

} // namespace Quorlin
