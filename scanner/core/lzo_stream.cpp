#include "scanner/core/lzo_stream.h"

#include <lzo/lzo1x.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quorlin {
namespace {

constexpr unsigned char magic[] = { 0x89, 'L', 'Z', 'O', 0x00, 0x0d, 0x0a, 0x1a, 0x0a };
constexpr std::size_t magicLength = sizeof magic;
// lzop's own ceiling on a block; a larger length is damage.
constexpr std::uint32_t largestBlock = 64u << 20;

enum Flag : std::uint32_t {
    Adler32Data = 0x1,
    Adler32Compressed = 0x2,
    ExtraField = 0x40,
    Crc32Data = 0x100,
    Crc32Compressed = 0x200,
    Filter = 0x800,
    Crc32Header = 0x1000,
};

std::uint32_t big32(const unsigned char *data)
{
    return std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 | std::uint32_t(data[2]) << 8
        | data[3];
}

unsigned big16(const unsigned char *data)
{
    return unsigned(data[0]) << 8 | data[1];
}

struct Header
{
    std::size_t length = 0; ///< magic included
    std::uint32_t flags = 0;
};

enum class Parse { Good, Short, Bad };

/// Reads an lzop header. Filters and extra fields, which lzop itself writes
/// only on request, are left unread: such a file stays raw data.
Parse parseHeader(const unsigned char *data, std::size_t available, Header *header)
{
    std::size_t at = magicLength;
    const auto need = [&](std::size_t n) { return at + n <= available; };
    if (available < magicLength)
        return Parse::Short;
    if (std::memcmp(data, magic, magicLength) != 0)
        return Parse::Bad;
    if (!need(4))
        return Parse::Short;
    const unsigned version = big16(data + at);
    at += 4; // version, library version
    if (version < 0x0900 || version >= 0x2000)
        return Parse::Bad;
    const bool newer = version >= 0x0940;
    if (newer) {
        if (!need(2))
            return Parse::Short;
        const unsigned needed = big16(data + at);
        if (needed < 0x0900 || needed > version)
            return Parse::Bad;
        at += 2;
    }
    if (!need(newer ? 6 : 5))
        return Parse::Short;
    const unsigned method = data[at];
    if (method < 1 || method > 3)
        return Parse::Bad;
    at += newer ? 2 : 1;
    header->flags = big32(data + at);
    at += 4;
    if (header->flags & (ExtraField | Filter))
        return Parse::Bad;
    at += newer ? 12 : 8; // mode, mtime
    if (!need(1))
        return Parse::Short;
    at += 1 + data[at]; // name
    if (!need(4))
        return Parse::Short;
    const unsigned char *checked = data + magicLength;
    const auto checkedLength = uInt(at - magicLength);
    const std::uint32_t sum = (header->flags & Crc32Header)
        ? std::uint32_t(crc32(0, checked, checkedLength))
        : std::uint32_t(adler32(1, checked, checkedLength));
    if (sum != big32(data + at))
        return Parse::Bad;
    header->length = at + 4;
    return Parse::Good;
}

class LzopDecoder : public Decoder
{
public:
    LzopDecoder() { restart(); }

    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        for (;;) {
            if (m_state == State::Failed)
                return Status::Error;
            if (m_state == State::Ended)
                return Status::End;
            if (m_state == State::Output) {
                const std::size_t n = std::min(outLeft, m_block.size() - m_handed);
                std::memcpy(out, m_block.data() + m_handed, n);
                out += n;
                outLeft -= n;
                m_handed += n;
                if (m_handed < m_block.size())
                    return Status::Working;
                m_state = State::BlockHead;
                m_wanted = 4;
                m_pending.clear();
                continue;
            }
            // Gather the bytes the next part needs, then act on them.
            if (m_pending.size() < m_wanted) {
                const std::size_t n = std::min(inLeft, m_wanted - m_pending.size());
                m_pending.insert(m_pending.end(), in, in + n);
                in += n;
                inLeft -= n;
                if (m_pending.size() < m_wanted)
                    return Status::Working;
            }
            advance();
        }
    }

    bool restart() override
    {
        m_state = State::Header;
        m_wanted = magicLength + 22; // the shortest header; grows as it is read
        m_pending.clear();
        m_block.clear();
        m_handed = 0;
        return true;
    }

    QString error() const override { return m_error; }

private:
    enum class State { Header, BlockHead, BlockData, Output, Ended, Failed };

    void fail(const QString &why)
    {
        m_state = State::Failed;
        m_error = why;
    }

    static int count(std::uint32_t flags, std::uint32_t a, std::uint32_t b)
    {
        return ((flags & a) ? 1 : 0) + ((flags & b) ? 1 : 0);
    }

    void advance()
    {
        switch (m_state) {
        case State::Header: {
            Header header;
            const Parse parse = parseHeader(m_pending.data(), m_pending.size(), &header);
            if (parse == Parse::Bad)
                return fail(QStringLiteral("damaged lzop header"));
            if (parse == Parse::Short) {
                ++m_wanted;
                return;
            }
            m_flags = header.flags;
            m_state = State::BlockHead;
            m_wanted = 4;
            m_pending.clear();
            return;
        }
        case State::BlockHead: {
            m_plainLength = big32(m_pending.data());
            if (m_plainLength == 0) {
                m_state = State::Ended;
                return;
            }
            if (m_plainLength > largestBlock)
                return fail(
                    QStringLiteral("damaged lzop data (a block of %1 bytes)").arg(m_plainLength));
            if (m_pending.size() < 8) {
                m_wanted = 8;
                return;
            }
            m_packedLength = big32(m_pending.data() + 4);
            if (m_packedLength == 0 || m_packedLength > m_plainLength)
                return fail(QStringLiteral("damaged lzop data (block lengths)"));
            const std::size_t sums = std::size_t(count(m_flags, Adler32Data, Crc32Data))
                + (m_packedLength < m_plainLength
                        ? std::size_t(count(m_flags, Adler32Compressed, Crc32Compressed))
                        : 0);
            const std::size_t full = 8 + 4 * sums;
            if (m_pending.size() < full) {
                m_wanted = full;
                return;
            }
            m_sums.assign(m_pending.begin() + 8, m_pending.end());
            m_state = State::BlockData;
            m_wanted = m_packedLength;
            m_pending.clear();
            return;
        }
        case State::BlockData:
            return decodeBlock();
        default:
            return;
        }
    }

    /// Checks the sums lzop stored for @p data, in the order it writes them.
    bool sumsMatch(const std::vector<unsigned char> &data, std::uint32_t adlerFlag,
        std::uint32_t crcFlag, std::size_t *at) const
    {
        bool good = true;
        if (m_flags & adlerFlag) {
            good = good && big32(m_sums.data() + *at) == adler32(1, data.data(), uInt(data.size()));
            *at += 4;
        }
        if (m_flags & crcFlag) {
            good = good && big32(m_sums.data() + *at) == crc32(0, data.data(), uInt(data.size()));
            *at += 4;
        }
        return good;
    }

    void decodeBlock()
    {
        std::size_t at = 0;
        const std::size_t plainSums = 4 * std::size_t(count(m_flags, Adler32Data, Crc32Data));
        std::size_t packedAt = plainSums;
        const bool packed = m_packedLength < m_plainLength;
        if (packed && !sumsMatch(m_pending, Adler32Compressed, Crc32Compressed, &packedAt))
            return fail(QStringLiteral("damaged lzop data (checksum of a compressed block)"));
        if (packed) {
            m_block.resize(m_plainLength);
            lzo_uint made = m_plainLength;
            const int status = lzo1x_decompress_safe(
                m_pending.data(), m_pending.size(), m_block.data(), &made, nullptr);
            if (status != LZO_E_OK || made != m_plainLength)
                return fail(QStringLiteral("damaged lzop data (%1)").arg(status));
        } else {
            m_block.swap(m_pending);
        }
        if (!sumsMatch(m_block, Adler32Data, Crc32Data, &at))
            return fail(QStringLiteral("damaged lzop data (checksum of a block)"));
        m_pending.clear();
        m_handed = 0;
        m_state = State::Output;
    }

    State m_state = State::Header;
    std::size_t m_wanted = 0;
    std::vector<unsigned char> m_pending;
    std::vector<unsigned char> m_block;
    std::vector<unsigned char> m_sums;
    std::size_t m_handed = 0;
    std::uint32_t m_flags = 0;
    std::uint32_t m_plainLength = 0;
    std::uint32_t m_packedLength = 0;
    QString m_error;
};

} // namespace

bool isLzopStart(const unsigned char *data, std::size_t available)
{
    Header header;
    return available >= magicLength && std::memcmp(data, magic, magicLength) == 0
        && parseHeader(data, available, &header) == Parse::Good;
}

std::unique_ptr<Decoder> makeLzopDecoder()
{
    static const bool ready = lzo_init() == LZO_E_OK;
    return ready ? std::make_unique<LzopDecoder>() : nullptr;
}

} // namespace Quorlin
