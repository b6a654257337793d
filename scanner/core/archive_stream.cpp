#include "scanner/core/archive_stream.h"

#include <archive.h>
#include <archive_entry.h>

namespace Quorlin {

ArchiveStream::ArchiveStream(const ImageFacts &facts, qint64 begin, qint64 end, Mode mode)
    : m_archive(archive_read_new())
    , m_source(facts, begin, end)
{
    // Return values dropped on purpose: a missing decoder only means that kind
    // of stream is not recognised, which the scan reports as raw data.
    archive_read_support_filter_gzip(m_archive);
    archive_read_support_filter_bzip2(m_archive);
    archive_read_support_filter_xz(m_archive);
    archive_read_support_filter_compress(m_archive);
    if (mode == RawData) {
        archive_read_support_format_raw(m_archive);
    } else {
        archive_read_support_format_tar(m_archive);
        archive_read_support_format_cpio(m_archive);
    }
    m_open = m_source.open(m_archive) == ARCHIVE_OK;
}

ArchiveStream::~ArchiveStream()
{
    archive_read_free(m_archive);
}

qint64 ArchiveStream::consumed() const
{
    return archive_filter_bytes(m_archive, -1);
}

bool ArchiveStream::isCompressed() const
{
    return archive_filter_count(m_archive) > 1;
}

QString ArchiveStream::filterName() const
{
    return isCompressed() ? QString::fromUtf8(archive_filter_name(m_archive, 0)) : QString();
}

QString ArchiveStream::errorString() const
{
    const char *text = archive_error_string(m_archive);
    return text ? QString::fromUtf8(text) : QStringLiteral("unknown error");
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

namespace {

// The format reader stops at the archive's end marker, inside the compressed
// stream; decompressing the stream to its end tells where it ends in the image.
qint64 compressedStreamEnd(const ImageFacts &facts, qint64 begin, qint64 end, qint64 fallback)
{
    ArchiveStream stream(facts, begin, end, ArchiveStream::RawData);
    archive_entry *entry = nullptr;
    if (!stream.isOpen() || archive_read_next_header(stream.handle(), &entry) != ARCHIVE_OK)
        return fallback;
    const void *block;
    size_t size;
    la_int64_t offset;
    while (archive_read_data_block(stream.handle(), &block, &size, &offset) == ARCHIVE_OK) { }
    return std::max(fallback, begin + stream.consumed());
}

void markDamaged(FoundArchive *out, const QString &why, qint64 imageOffset)
{
    out->damaged = true;
    out->note = QStringLiteral("Damaged at image offset %1: %2. What follows is scanned again.")
                    .arg(imageOffset)
                    .arg(why);
}

} // namespace

bool readArchive(const ImageFacts &facts, qint64 begin, qint64 end, FoundArchive *out,
    qint64 *damageAt, const std::atomic<bool> *cancel)
{
    ArchiveStream stream(facts, begin, end);
    archive *reader = stream.handle();
    archive_entry *entry = nullptr;
    int status = stream.isOpen() ? archive_read_next_header(reader, &entry) : ARCHIVE_FATAL;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
        return false;
    out->offset = begin;
    out->format = QString::fromUtf8(archive_format_name(reader));
    out->filter = stream.filterName();
    qint64 before = 0;
    for (;;) {
        if (status == ARCHIVE_WARN && stream.errorString().startsWith(QLatin1String("Skipped"))) {
            // cpio found its next header only after skipping over garbage.
            out->damaged = true;
            out->note = QStringLiteral("Damaged before image offset %1: %2.")
                            .arg(facts.imageOffset(begin + stream.consumed()))
                            .arg(stream.errorString());
        }
        out->entries.append(describeEntry(entry));
        before = stream.consumed();
        if (archive_read_data_skip(reader) != ARCHIVE_OK) {
            out->entries.last().damaged = true;
            break;
        }
        if (cancel && cancel->load())
            break;
        before = stream.consumed();
        status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            break;
    }
    const bool broken = status != ARCHIVE_EOF && !(cancel && cancel->load());
    if (broken) {
        // Plain streams break where the bad bytes begin; compressed ones only
        // know how far the decompressor got.
        const qint64 at = begin + (stream.isCompressed() ? stream.consumed() : before);
        markDamaged(out, stream.errorString(), facts.imageOffset(at));
        *damageAt = at;
        out->length = at - begin;
        return true;
    }
    qint64 finish = begin + stream.consumed();
    if (stream.isCompressed())
        finish = compressedStreamEnd(facts, begin, end, finish);
    out->length = finish - begin;
    return true;
}

} // namespace Quorlin
