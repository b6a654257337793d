#include "scanner/core/archive_stream.h"

#include "scanner/core/signatures.h"

#include <archive.h>
#include <archive_entry.h>

namespace Quorlin {

ArchiveStream::ArchiveStream(const ImageFacts &facts, qint64 begin, qint64 end, Mode mode)
    : ArchiveStream(facts, begin, end, compressionAt(facts, begin), mode)
{
}

ArchiveStream::ArchiveStream(
    const ImageFacts &facts, qint64 begin, qint64 end, Compression compression, Mode mode)
    : m_archive(archive_read_new())
    , m_compression(compression)
{
    // Return values dropped on purpose: a missing reader only means that kind
    // of stream is not recognised, which the scan reports as raw data.
    if (mode == RawData) {
        archive_read_support_format_raw(m_archive);
    } else {
        archive_read_support_format_tar(m_archive);
        archive_read_support_format_cpio(m_archive);
        archive_read_support_format_zip_streamable(m_archive);
    }
    if (makeDecoder(compression)) {
        m_decoded = std::make_unique<DecodedSource>(facts, begin, end, compression);
        m_open = m_decoded->open(m_archive) == ARCHIVE_OK;
        return;
    }
    if (compression == Compression::Compress)
        archive_read_support_filter_compress(m_archive);
    m_region = std::make_unique<RegionSource>(facts, begin, end);
    m_open = m_region->open(m_archive) == ARCHIVE_OK;
}

ArchiveStream::~ArchiveStream()
{
    archive_read_free(m_archive);
}

qint64 ArchiveStream::consumed() const
{
    return m_decoded ? m_decoded->consumed() : archive_filter_bytes(m_archive, -1);
}

bool ArchiveStream::isCompressed() const
{
    return m_compression != Compression::None;
}

QString ArchiveStream::filterName() const
{
    return compressionName(m_compression);
}

QString ArchiveStream::errorString() const
{
    if (m_decoded && m_decoded->failed())
        return m_decoded->error();
    const char *text = archive_error_string(m_archive);
    return text ? QString::fromUtf8(text) : QStringLiteral("the archive breaks off");
}

bool ArchiveStream::finishStream()
{
    if (!m_decoded)
        return true;
    m_decoded->drain();
    return m_decoded->ended();
}

qint64 ArchiveStream::decodeErrorAt() const
{
    return m_decoded && m_decoded->failed() ? m_decoded->errorAt() : -1;
}

QString ArchiveStream::decodeError() const
{
    return m_decoded ? m_decoded->error() : QString();
}

Compression compressionAt(const ImageFacts &facts, qint64 begin)
{
    BodyStream stream(facts);
    // As much as the scan looked at: some starts are known only by their whole header.
    unsigned char head[signatureLength];
    const qint64 got
        = stream.open() ? stream.readAt(begin, reinterpret_cast<char *>(head), sizeof head) : 0;
    return got > 0 ? detectCompression(head, std::size_t(got)) : Compression::None;
}

FoundEntry describeEntry(archive_entry *entry)
{
    FoundEntry found;
    const char *utf8 = archive_entry_pathname_utf8(entry);
    found.path
        = utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
    found.rawPath = archive_entry_pathname(entry);
    found.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
    found.mtime = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
    if (const char *target = archive_entry_hardlink(entry)) {
        found.type = FoundEntry::Hardlink;
        found.linkTarget = QString::fromUtf8(target);
        found.rawLinkTarget = target;
        return found;
    }
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        found.type = FoundEntry::File;
        break;
    case AE_IFDIR:
        found.type = FoundEntry::Directory;
        break;
    case AE_IFLNK:
        found.type = FoundEntry::Symlink;
        if (const char *target = archive_entry_symlink(entry)) {
            found.linkTarget = QString::fromUtf8(target);
            found.rawLinkTarget = target;
        }
        break;
    default:
        found.type = FoundEntry::Other;
    }
    return found;
}

} // namespace Quorlin
