#pragma once
#include "scanner/core/region_source.h"
#include "scanner/core/scan_result.h"

#include <atomic>

struct archive;
struct archive_entry;

namespace Quorlin {

/// A libarchive reader over [begin, end) of the image, for the archive kinds
/// tapes carry: tar and cpio, plain or inside gzip, bzip2, xz or compress.
class ArchiveStream
{
public:
    enum Mode { Archive, RawData };
    ArchiveStream(const ImageFacts &facts, qint64 begin, qint64 end, Mode mode = Archive);
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

private:
    archive *m_archive;
    RegionSource m_source;
    bool m_open = false;
};

/// Entry facts as the scanner reports them.
FoundEntry describeEntry(archive_entry *entry);

/// Reads the archive that starts at @p begin and lists its entries in @p out.
/// Returns false when no archive starts there. When it is damaged, @p out says
/// so and @p damageAt holds the stream offset where reading broke off.
bool readArchive(const ImageFacts &facts, qint64 begin, qint64 end, FoundArchive *out,
    qint64 *damageAt, const std::atomic<bool> *cancel);

} // namespace Quorlin
