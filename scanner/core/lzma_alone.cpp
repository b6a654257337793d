#include "scanner/core/lzma_alone.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quorlin {
namespace {

// Enough for every preset; a header asking for more is damage.
constexpr std::uint64_t memoryLimit = 256 << 20;
constexpr std::uint32_t largestDictionary = (128u << 20) + (64u << 20);
// An uncompressed size past this is no tape file's: the header is not one.
constexpr std::uint64_t largestKnownSize = std::uint64_t(1) << 40;
constexpr std::size_t headerLength = 13;
// Output a start check may decode from what is in view before it believes it.
constexpr std::size_t checkOutput = 4 << 20;

/// Written as 2^n or 2^n + 2^(n-1) by every tool that makes these files.
bool isToolDictionary(std::uint32_t size)
{
    if (size < 4096 || size > largestDictionary)
        return false;
    const std::uint32_t top = std::uint32_t(1) << (31 - __builtin_clz(size));
    return size == top || size == top + top / 2;
}

/// The stream has no checksum: after damage the decoder runs on, making wrong
/// bytes, until it meets something it cannot decode. The last of what it made
/// is held back until more follows and dropped on an error, so that what it
/// hands out before damage is, as far as can be told, what was stored.
class LzmaAloneDecoder : public Decoder
{
public:
    LzmaAloneDecoder() { restart(); }
    ~LzmaAloneDecoder() override { lzma_end(&m_s); }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        for (;;) {
            if (m_status == Status::Error && m_handed == m_held.size())
                return Status::Error;
            // Once ended, failed (the held back part is dropped then) or with no
            // input left, where the stream breaks off, what is held goes out.
            const std::size_t keep = m_status != Status::Working || inLeft == 0 ? 0 : heldBack;
            const std::size_t ready = m_held.size() - m_handed;
            if (ready > keep) {
                const std::size_t n = std::min(outLeft, ready - keep);
                std::memcpy(out, m_held.data() + m_handed, n);
                out += n;
                outLeft -= n;
                m_handed += n;
            }
            if (m_status != Status::Working)
                return m_handed < m_held.size() ? Status::Working : m_status;
            if (m_held.size() - m_handed < ready)
                return Status::Working;
            // Room to decode into: drop what was handed out, keep what is held.
            m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(m_handed));
            m_handed = 0;
            const std::size_t held = m_held.size();
            m_held.resize(held + piece);
            m_s.next_in = in;
            m_s.avail_in = inLeft;
            m_s.next_out = m_held.data() + held;
            m_s.avail_out = piece;
            const lzma_ret status = m_ok ? lzma_code(&m_s, LZMA_RUN) : LZMA_MEM_ERROR;
            const std::size_t made = piece - m_s.avail_out;
            m_held.resize(held + made);
            const bool used = m_s.avail_in != inLeft;
            inLeft = m_s.avail_in;
            in = m_s.next_in;
            if (status == LZMA_STREAM_END) {
                m_status = Status::End;
            } else if (status != LZMA_OK && status != LZMA_BUF_ERROR) {
                m_status = Status::Error;
                m_held.resize(
                    std::max(m_handed, m_held.size() - std::min(m_held.size(), heldBack)));
                m_error = status == LZMA_MEMLIMIT_ERROR
                    ? QStringLiteral("the stream asks for more than %1 MiB to decode")
                          .arg(memoryLimit >> 20)
                    : QStringLiteral("damaged lzma data (%1)").arg(int(status));
                continue;
            } else if (used || made == 0) {
                return Status::Working; // moved on, or needs more input
            }
        }
    }
    bool restart() override
    {
        m_ok = lzma_alone_decoder(&m_s, memoryLimit) == LZMA_OK;
        m_held.clear();
        m_handed = 0;
        m_status = Status::Working;
        return m_ok;
    }
    QString error() const override { return m_error; }

private:
    static constexpr std::size_t heldBack = 64 << 10;
    static constexpr std::size_t piece = 64 << 10;
    lzma_stream m_s = LZMA_STREAM_INIT;
    bool m_ok = false;
    std::vector<unsigned char> m_held;
    std::size_t m_handed = 0;
    Status m_status = Status::Working;
    QString m_error;
};

} // namespace

bool isLzmaAloneStart(const unsigned char *data, std::size_t available)
{
    if (available < headerLength + 1)
        return false;
    unsigned properties = data[0];
    const unsigned literalContext = properties % 9;
    properties /= 9;
    const unsigned literalPosition = properties % 5;
    if (properties / 5 > 4 || literalContext + literalPosition > 4)
        return false;
    std::uint32_t dictionary = 0;
    for (int i = 4; i >= 1; --i)
        dictionary = dictionary << 8 | data[i];
    std::uint64_t size = 0;
    for (int i = 12; i >= 5; --i)
        size = size << 8 | data[i];
    if (!isToolDictionary(dictionary) || (size != ~std::uint64_t(0) && size > largestKnownSize)
        || data[headerLength] != 0)
        return false;
    // Only now the costly part: the header holds, so decode what is in view.
    LzmaAloneDecoder decoder;
    thread_local std::vector<unsigned char> scratch(64 << 10);
    const unsigned char *in = data;
    std::size_t inLeft = available;
    std::size_t made = 0;
    while (inLeft > 0 && made < checkOutput) {
        unsigned char *out = scratch.data();
        std::size_t outLeft = scratch.size();
        const std::size_t inBefore = inLeft;
        const Decoder::Status status = decoder.step(in, inLeft, out, outLeft);
        if (status == Decoder::Status::Error)
            return false;
        if (status == Decoder::Status::End)
            return true;
        made += scratch.size() - outLeft;
        if (inLeft == inBefore && outLeft == scratch.size())
            return false; // stuck with input left: nothing a stream does
    }
    return true;
}

std::unique_ptr<Decoder> makeLzmaAloneDecoder()
{
    return std::make_unique<LzmaAloneDecoder>();
}

} // namespace Quorlin
