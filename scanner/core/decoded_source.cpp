#include "scanner/core/decoded_source.h"

#include "scanner/core/region_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Quorlin {
namespace {
constexpr int inputSize = 1 << 20;
constexpr int outputSize = 1 << 20;
// Reads and hand-outs start small and grow: most tries at a possible start end
// within the first header.
constexpr qint64 firstPiece = 64 << 10;
// Enough bytes to recognise the header of a further stream.
constexpr std::size_t headerLook = 16;
} // namespace

DecodedSource::DecodedSource(const ImageFacts &facts, qint64 begin, qint64 end, Compression kind)
    : m_stream(facts)
    , m_kind(kind)
    , m_decoder(makeDecoder(kind))
    , m_begin(begin)
    , m_end(end)
    , m_inStart(begin)
    , m_piece(firstPiece)
{
    m_in.swap(spareBuffer(SpareSlot::DecoderInput));
    m_out.swap(spareBuffer(SpareSlot::DecoderOutput));
}

DecodedSource::~DecodedSource()
{
    m_in.swap(spareBuffer(SpareSlot::DecoderInput));
    m_out.swap(spareBuffer(SpareSlot::DecoderOutput));
}

int DecodedSource::open(archive *reader)
{
    if (!m_decoder || !m_stream.open()) {
        archive_set_error(reader, EIO, "%s", m_stream.errorString().toLocal8Bit().constData());
        return ARCHIVE_FATAL;
    }
    archive_read_set_read_callback(reader, &DecodedSource::readCallback);
    archive_read_set_skip_callback(reader, &DecodedSource::skipCallback);
    archive_read_set_callback_data(reader, this);
    return archive_read_open1(reader);
}

void DecodedSource::fail(const QString &why)
{
    m_state = State::Failed;
    m_error = why;
    m_errorAt = m_inStart + qint64(m_inPos);
}

// Keeps the bytes not yet decoded and appends what follows them in the image.
bool DecodedSource::refill()
{
    if (m_inputDone)
        return false;
    const std::size_t kept = m_inLength - m_inPos;
    std::memmove(m_in.data(), m_in.constData() + m_inPos, kept);
    m_inStart += qint64(m_inPos);
    m_inPos = 0;
    m_inLength = kept;
    const qint64 from = m_inStart + qint64(kept);
    // Buffers grow with the pieces, so a try that ends in the first header stays small.
    if (m_in.size() < qint64(kept) + m_piece)
        m_in.resize(int(std::min<qint64>(qint64(kept) + m_piece, inputSize)));
    const qint64 wanted
        = std::min<qint64>(std::min<qint64>(m_in.size() - qint64(kept), m_piece), m_end - from);
    const qint64 got = wanted > 0 ? m_stream.readAt(from, m_in.data() + kept, wanted) : 0;
    if (got < 0)
        m_readFailed = true;
    if (got <= 0) {
        m_inputDone = true;
        return false;
    }
    m_inLength += std::size_t(got);
    return true;
}

// Concatenated streams (pbzip2, bgzf, pzstd) go on right after the last one;
// anything else after the end, zeros included, is not part of this stream.
bool DecodedSource::anotherStreamFollows()
{
    if (m_inLength - m_inPos < headerLook)
        refill();
    const auto *at = reinterpret_cast<const unsigned char *>(m_in.constData()) + m_inPos;
    return detectCompression(at, m_inLength - m_inPos) == m_kind && m_decoder->restart();
}

qint64 DecodedSource::produce(unsigned char *out, qint64 maxLength)
{
    unsigned char *next = out;
    std::size_t outLeft = std::size_t(maxLength);
    while (outLeft > 0 && m_state == State::Running) {
        if (m_inPos == m_inLength)
            refill();
        const auto *in = reinterpret_cast<const unsigned char *>(m_in.constData()) + m_inPos;
        std::size_t inLeft = m_inLength - m_inPos;
        const std::size_t outBefore = outLeft;
        const Decoder::Status status = m_decoder->step(in, inLeft, next, outLeft);
        const bool moved = inLeft != m_inLength - m_inPos || outLeft != outBefore;
        m_inPos = m_inLength - inLeft;
        if (status == Decoder::Status::Error) {
            fail(m_decoder->error());
        } else if (status == Decoder::Status::End) {
            if (!anotherStreamFollows())
                m_state = State::Ended;
        } else if (!moved && inLeft > 0) {
            fail(QStringLiteral("the decoder makes no progress"));
        } else if (!moved && m_inputDone) {
            // Everything the decoder could give before the end is out now.
            fail(m_readFailed ? QStringLiteral("reading the image failed")
                              : QStringLiteral("the compressed data breaks off"));
        }
    }
    const qint64 made = next - out;
    return made == 0 && m_state == State::Failed ? -1 : made;
}

unsigned char *DecodedSource::output()
{
    if (m_out.size() < m_piece)
        m_out.resize(int(m_piece));
    return reinterpret_cast<unsigned char *>(m_out.data());
}

void DecodedSource::drain()
{
    while (m_state == State::Running)
        produce(output(), m_piece);
}

la_ssize_t DecodedSource::readCallback(archive *reader, void *self, const void **buffer)
{
    auto *source = static_cast<DecodedSource *>(self);
    if (holdsTooMuch(reader, source->m_handed))
        return -1;
    const qint64 made = source->produce(source->output(), source->m_piece);
    source->m_piece = std::min<qint64>(2 * source->m_piece, outputSize);
    if (made < 0) {
        archive_set_error(reader, EIO, "%s", source->m_error.toLocal8Bit().constData());
        return -1;
    }
    source->m_handed += made;
    *buffer = source->m_out.constData();
    return made;
}

// Skipped file data is decoded all the same, but never copied out.
la_int64_t DecodedSource::skipCallback(archive *, void *self, la_int64_t request)
{
    auto *source = static_cast<DecodedSource *>(self);
    la_int64_t skipped = 0;
    while (skipped < request) {
        const qint64 made = source->produce(
            source->output(), std::min<qint64>(source->m_piece, request - skipped));
        if (made <= 0)
            break;
        skipped += made;
    }
    source->m_handed += skipped;
    return skipped;
}

} // namespace Quorlin
