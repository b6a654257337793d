#include "scanner/core/decoded_source.h"

#include "scanner/core/record_layout.h"
#include "scanner/core/region_source.h"
#include "scanner/core/signatures.h"

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
// Shorter records of zeros may be compressed data; an unreadable block is written as
// a whole record of zeros, a tape block's length.
constexpr qint64 smallestZeroRecord = 512;
} // namespace

DecodedSource::DecodedSource(const ImageFacts &facts, qint64 begin, qint64 end, Compression kind)
    : m_stream(facts)
    , m_kind(kind)
    , m_decoder(makeDecoder(kind))
    , m_begin(begin)
    , m_end(end)
    , m_inStart(begin)
    , m_piece(firstPiece)
    , m_layout(facts.layout)
    , m_recordStart(begin)
    , m_zerosCheckedTo(begin)
{
    if (m_layout) {
        const auto unreadable = m_layout->unreadableIn(begin, end);
        if (!unreadable.isEmpty())
            m_unreadable = std::max(begin, unreadable.first().streamStart);
        // In a .tap file a record of zeros is what the tape held; in an image it is
        // what an unreadable block became.
        if (!m_layout->recordsKnown() || facts.tapFile)
            m_zerosCheckedTo = end;
    }
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

void DecodedSource::fail(const QString &why, bool garbled)
{
    m_state = State::Failed;
    m_error = why;
    m_errorAt = inputPosition();
    if (m_goodInputEnd >= 0)
        return;
    if (m_decodedAtUnreadable >= 0) {
        // A record read with an error came before: that is where it went wrong.
        m_goodInputEnd = m_unreadable;
        m_goodDecoded = m_decodedAtUnreadable;
    } else if (garbled && m_layout && m_layout->recordsKnown()) {
        // Damaged bytes decode as garbage for a while before the decoder notices:
        // only what came before the record it broke in is known to be good.
        m_goodInputEnd = m_recordStart;
        m_goodDecoded = m_producedAtRecord;
    } else {
        m_goodInputEnd = m_errorAt;
        m_goodDecoded = m_produced;
    }
}

void DecodedSource::checkZeroRecords()
{
    const qint64 bufferEnd = m_inStart + qint64(m_inLength);
    const auto *in = reinterpret_cast<const unsigned char *>(m_in.constData());
    while (m_zeroRecord < 0 && m_zerosCheckedTo < bufferEnd) {
        const qint64 start = m_layout->nextRecordStart(m_zerosCheckedTo);
        const qint64 end = m_layout->recordEnd(start);
        if (start >= bufferEnd || end <= start)
            return;
        if (end > bufferEnd && end - start <= inputSize)
            return; // not all of it read yet
        if (end <= bufferEnd && start >= m_inStart && end - start >= smallestZeroRecord
            && allZero(in + (start - m_inStart), std::size_t(end - start)))
            m_zeroRecord = start;
        m_zerosCheckedTo = end;
    }
}

std::size_t DecodedSource::stepInput(std::size_t inLeft)
{
    const qint64 at = inputPosition();
    if (m_layout && m_layout->recordsKnown() && m_layout->recordStart(at) == at
        && at != m_recordStart) {
        m_recordStart = at;
        m_producedAtRecord = m_produced;
    }
    if (at == m_unreadable && m_decodedAtUnreadable < 0)
        m_decodedAtUnreadable = m_produced;
    qint64 limit = qint64(inLeft);
    const auto stopAt = [&](qint64 where) {
        if (where > at)
            limit = std::min(limit, where - at);
    };
    if (m_layout && m_layout->recordsKnown())
        stopAt(m_layout->nextRecordStart(at + 1));
    stopAt(m_zeroRecord);
    stopAt(m_unreadable);
    return std::size_t(limit);
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
    checkZeroRecords();
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
        // Seen only once whole: the decoder may have taken the first of its zeros.
        if (m_zeroRecord >= 0 && inputPosition() >= m_zeroRecord) {
            m_goodInputEnd = m_zeroRecord;
            m_goodDecoded = m_zeroRecord == m_recordStart ? m_producedAtRecord : m_produced;
            fail(QStringLiteral("a record of zeros, as an unreadable block is written, inside "
                                "the compressed data"));
            break;
        }
        const auto *in = reinterpret_cast<const unsigned char *>(m_in.constData()) + m_inPos;
        const std::size_t given = stepInput(m_inLength - m_inPos);
        std::size_t inLeft = given;
        const std::size_t outBefore = outLeft;
        const Decoder::Status status = m_decoder->step(in, inLeft, next, outLeft);
        const bool moved = inLeft != given || outLeft != outBefore;
        m_inPos += given - inLeft;
        m_produced += qint64(outBefore - outLeft);
        inLeft = m_inLength - m_inPos;
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
                              : QStringLiteral("the compressed data breaks off"),
                false);
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
