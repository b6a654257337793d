#include "scanner/core/archive_stream.h"

#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"

#include <archive.h>
#include <archive_entry.h>

namespace Quorlin {
namespace {

constexpr qint64 searchSize = 1 << 20;
// Zeros a compress stream does not hold: its codes count up, even over zeros.
constexpr qint64 zeroRun = 1024;

/// Where a compress (.Z) stream that starts at @p begin ends. It has no end of its
/// own: it runs to its tape file's end, which in a .tap file is known. In an image
/// the tape mark is a record of zeros (as is an unreadable block, past which nothing
/// decodes right either); without records known, a run of zeros that follows it.
qint64 compressEnd(const ImageFacts &facts, qint64 begin, qint64 end)
{
    const RecordLayout *layout = facts.layout.get();
    if (facts.tapFile || !layout)
        return end;
    BodyStream stream(facts);
    if (!stream.open())
        return end;
    QByteArray buffer(int(searchSize), Qt::Uninitialized);
    const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.constData());
    if (layout->recordsKnown()) {
        // A window at a time, each record in it looked at whole.
        for (qint64 at = layout->nextRecordStart(begin + 1); at < end;) {
            const qint64 got = stream.readAt(at, buffer.data(), std::min(searchSize, end - at));
            if (got <= 0)
                return end;
            qint64 record = at;
            for (; record < at + got; record = layout->recordEnd(record)) {
                const qint64 recordEnd = std::min(layout->recordEnd(record), end);
                if (recordEnd > at + got && record > at)
                    break; // read it whole with the next window
                const qint64 inView = std::min(recordEnd, at + got) - record;
                if (recordEnd - record >= 512 && inView == recordEnd - record
                    && allZero(bytes + (record - at), std::size_t(inView)))
                    return record;
                if (recordEnd > at + got) { // longer than the window: not a tape mark
                    record = recordEnd;
                    break;
                }
            }
            at = record;
        }
        return end;
    }
    qint64 zerosFrom = -1; // where the zeros in view began
    for (qint64 at = begin; at < end;) {
        const qint64 got = stream.readAt(at, buffer.data(), std::min(searchSize, end - at));
        if (got <= 0)
            return end;
        for (qint64 i = 0; i < got; ++i) {
            if (bytes[i] == 0) {
                zerosFrom = zerosFrom < 0 ? at + i : zerosFrom;
            } else {
                if (zerosFrom >= 0 && at + i - zerosFrom >= zeroRun)
                    return at + i; // the zeros decode as zeros: kept, what follows is not
                zerosFrom = -1;
            }
        }
        at += got;
    }
    return end;
}

} // namespace

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
    if (compression == Compression::Compress) {
        archive_read_support_filter_compress(m_archive);
        end = compressEnd(facts, begin, end);
    }
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

qint64 ArchiveStream::goodInputEnd() const
{
    return m_decoded && m_decoded->failed() ? m_decoded->goodInputEnd() : -1;
}

qint64 ArchiveStream::goodDecoded() const
{
    return m_decoded && m_decoded->failed() ? m_decoded->goodDecoded() : -1;
}

qint64 ArchiveStream::decodedAtUnreadable() const
{
    return m_decoded ? m_decoded->decodedAtUnreadable() : -1;
}

qint64 ArchiveStream::decodedPosition() const
{
    return archive_filter_bytes(m_archive, 0);
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
