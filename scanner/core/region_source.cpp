#include "scanner/core/region_source.h"

#include <archive.h>

#include <algorithm>
#include <cerrno>

namespace Quorlin {
namespace {
// Reads start small and grow: most tries at a possible start read one header.
constexpr qint64 firstRead = 64 << 10;
constexpr qint64 readSize = 1 << 20;
constexpr qint64 readAheadLimit = 64 << 20;
} // namespace

QByteArray &spareBuffer(SpareSlot slot)
{
    thread_local QByteArray spares[3];
    return spares[int(slot)];
}

bool holdsTooMuch(archive *reader, qint64 handed)
{
    if (handed - archive_filter_bytes(reader, -1) <= readAheadLimit)
        return false;
    archive_set_error(
        reader, ENOMEM, "a header asks for more than %d MiB at once", int(readAheadLimit >> 20));
    return true;
}

RegionSource::RegionSource(const ImageFacts &facts, qint64 begin, qint64 end)
    : m_stream(facts)
    , m_begin(begin)
    , m_end(end)
    , m_position(begin)
    , m_readSize(firstRead)
{
    m_buffer.swap(spareBuffer(SpareSlot::Region));
}

RegionSource::~RegionSource()
{
    m_buffer.swap(spareBuffer(SpareSlot::Region));
}

int RegionSource::open(archive *reader)
{
    if (!m_stream.open()) {
        archive_set_error(reader, EIO, "%s", m_stream.errorString().toLocal8Bit().constData());
        return ARCHIVE_FATAL;
    }
    archive_read_set_read_callback(reader, &RegionSource::readCallback);
    archive_read_set_skip_callback(reader, &RegionSource::skipCallback);
    archive_read_set_callback_data(reader, this);
    return archive_read_open1(reader);
}

la_ssize_t RegionSource::readCallback(archive *reader, void *self, const void **buffer)
{
    auto *source = static_cast<RegionSource *>(self);
    if (holdsTooMuch(reader, source->m_position - source->m_begin))
        return -1;
    const qint64 wanted = std::min<qint64>(source->m_readSize, source->m_end - source->m_position);
    source->m_readSize = std::min(2 * source->m_readSize, readSize);
    if (wanted <= 0)
        return 0;
    if (source->m_buffer.size() < wanted)
        source->m_buffer.resize(int(wanted));
    const qint64 got = source->m_stream.readAt(source->m_position, source->m_buffer.data(), wanted);
    if (got < 0) {
        archive_set_error(
            reader, EIO, "%s", source->m_stream.errorString().toLocal8Bit().constData());
        return -1;
    }
    source->m_position += got;
    *buffer = source->m_buffer.constData();
    return got;
}

la_int64_t RegionSource::skipCallback(archive *, void *self, la_int64_t request)
{
    auto *source = static_cast<RegionSource *>(self);
    const qint64 step
        = std::max<qint64>(0, std::min<qint64>(request, source->m_end - source->m_position));
    source->m_position += step;
    return step;
}

} // namespace Quorlin
