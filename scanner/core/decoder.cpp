#include "scanner/core/decoder.h"

#include "scanner/core/lzma_alone.h"
#include "scanner/core/lzo_stream.h"

#include <bzlib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace Quorlin {
namespace {

// Enough for every preset of xz and lzip; a header asking for more is damage.
constexpr std::uint64_t lzmaMemoryLimit = 256 << 20;
// 128 MiB windows, zstd's own default ceiling.
constexpr int zstdWindowLog = 27;

class GzipDecoder : public Decoder
{
public:
    GzipDecoder() { m_ok = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK; }
    ~GzipDecoder() override { inflateEnd(&m_z); }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        m_z.next_in = const_cast<unsigned char *>(in);
        m_z.avail_in = uInt(std::min<std::size_t>(inLeft, 1u << 30));
        m_z.next_out = out;
        m_z.avail_out = uInt(std::min<std::size_t>(outLeft, 1u << 30));
        const int status = m_ok ? inflate(&m_z, Z_NO_FLUSH) : Z_MEM_ERROR;
        inLeft -= std::size_t(m_z.next_in - in);
        outLeft -= std::size_t(m_z.next_out - out);
        in = m_z.next_in;
        out = m_z.next_out;
        if (status == Z_STREAM_END)
            return Status::End;
        if (status == Z_OK || status == Z_BUF_ERROR)
            return Status::Working;
        m_error = QString::fromUtf8(m_z.msg ? m_z.msg : "damaged data");
        return Status::Error;
    }
    bool restart() override { return inflateReset(&m_z) == Z_OK; }
    QString error() const override { return m_error; }

private:
    z_stream m_z {};
    bool m_ok = false;
    QString m_error;
};

class Bzip2Decoder : public Decoder
{
public:
    Bzip2Decoder() { restart(); }
    ~Bzip2Decoder() override
    {
        if (m_ok)
            BZ2_bzDecompressEnd(&m_s);
    }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        m_s.next_in = reinterpret_cast<char *>(const_cast<unsigned char *>(in));
        m_s.avail_in = unsigned(std::min<std::size_t>(inLeft, 1u << 30));
        m_s.next_out = reinterpret_cast<char *>(out);
        m_s.avail_out = unsigned(std::min<std::size_t>(outLeft, 1u << 30));
        const int status = m_ok ? BZ2_bzDecompress(&m_s) : BZ_MEM_ERROR;
        const auto *nextIn = reinterpret_cast<const unsigned char *>(m_s.next_in);
        auto *nextOut = reinterpret_cast<unsigned char *>(m_s.next_out);
        inLeft -= std::size_t(nextIn - in);
        outLeft -= std::size_t(nextOut - out);
        in = nextIn;
        out = nextOut;
        if (status == BZ_STREAM_END)
            return Status::End;
        if (status == BZ_OK)
            return Status::Working;
        m_error = QStringLiteral("damaged bzip2 data (%1)").arg(status);
        return Status::Error;
    }
    bool restart() override
    {
        if (m_ok)
            BZ2_bzDecompressEnd(&m_s);
        std::memset(&m_s, 0, sizeof m_s);
        m_ok = BZ2_bzDecompressInit(&m_s, 0, 0) == BZ_OK;
        return m_ok;
    }
    QString error() const override { return m_error; }

private:
    bz_stream m_s {};
    bool m_ok = false;
    QString m_error;
};

/// xz and lzip, both through liblzma, one stream (member) at a time.
class LzmaDecoder : public Decoder
{
public:
    explicit LzmaDecoder(bool lzip)
        : m_lzip(lzip)
    {
        restart();
    }
    ~LzmaDecoder() override { lzma_end(&m_s); }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        m_s.next_in = in;
        m_s.avail_in = inLeft;
        m_s.next_out = out;
        m_s.avail_out = outLeft;
        const lzma_ret status = m_ok ? lzma_code(&m_s, LZMA_RUN) : LZMA_MEM_ERROR;
        inLeft = m_s.avail_in;
        outLeft = m_s.avail_out;
        in = m_s.next_in;
        out = m_s.next_out;
        if (status == LZMA_STREAM_END)
            return Status::End;
        if (status == LZMA_OK || status == LZMA_BUF_ERROR)
            return Status::Working;
        m_error = status == LZMA_MEMLIMIT_ERROR
            ? QStringLiteral("the stream asks for more than %1 MiB to decode")
                  .arg(lzmaMemoryLimit >> 20)
            : QStringLiteral("damaged %1 data (%2)")
                  .arg(m_lzip ? QStringLiteral("lzip") : QStringLiteral("xz"))
                  .arg(int(status));
        return Status::Error;
    }
    bool restart() override
    {
        m_ok = (m_lzip ? lzma_lzip_decoder(&m_s, lzmaMemoryLimit, 0)
                       : lzma_stream_decoder(&m_s, lzmaMemoryLimit, 0))
            == LZMA_OK;
        return m_ok;
    }
    QString error() const override { return m_error; }

private:
    lzma_stream m_s = LZMA_STREAM_INIT;
    bool m_lzip;
    bool m_ok = false;
    QString m_error;
};

/// One zstd context kept per thread between tries: a new one faults its window
/// in page by page, which data full of frame headers would pay at every one.
struct SpareZstdContext
{
    ~SpareZstdContext() { ZSTD_freeDCtx(context); }
    ZSTD_DCtx *context = nullptr;
};
thread_local SpareZstdContext spareZstd;

class ZstdDecoder : public Decoder
{
public:
    ZstdDecoder()
        : m_context(spareZstd.context ? spareZstd.context : ZSTD_createDCtx())
    {
        spareZstd.context = nullptr;
        if (m_context)
            ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, zstdWindowLog);
    }
    ~ZstdDecoder() override
    {
        if (!spareZstd.context && restart()) {
            spareZstd.context = m_context;
            return;
        }
        ZSTD_freeDCtx(m_context);
    }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        if (!m_context) {
            m_error = QStringLiteral("out of memory");
            return Status::Error;
        }
        ZSTD_inBuffer input { in, inLeft, 0 };
        ZSTD_outBuffer output { out, outLeft, 0 };
        const std::size_t status = ZSTD_decompressStream(m_context, &output, &input);
        in += input.pos;
        inLeft -= input.pos;
        out += output.pos;
        outLeft -= output.pos;
        if (ZSTD_isError(status)) {
            m_error = QString::fromUtf8(ZSTD_getErrorName(status));
            return Status::Error;
        }
        return status == 0 ? Status::End : Status::Working;
    }
    bool restart() override
    {
        return m_context && !ZSTD_isError(ZSTD_DCtx_reset(m_context, ZSTD_reset_session_only));
    }
    QString error() const override { return m_error; }

private:
    ZSTD_DCtx *m_context;
    QString m_error;
};

class Lz4Decoder : public Decoder
{
public:
    Lz4Decoder()
    {
        if (LZ4F_isError(LZ4F_createDecompressionContext(&m_context, LZ4F_VERSION)))
            m_context = nullptr;
    }
    ~Lz4Decoder() override { LZ4F_freeDecompressionContext(m_context); }
    Status step(const unsigned char *&in, std::size_t &inLeft, unsigned char *&out,
        std::size_t &outLeft) override
    {
        if (!m_context) {
            m_error = QStringLiteral("out of memory");
            return Status::Error;
        }
        std::size_t made = outLeft;
        std::size_t used = inLeft;
        const std::size_t status = LZ4F_decompress(m_context, out, &made, in, &used, nullptr);
        in += used;
        inLeft -= used;
        out += made;
        outLeft -= made;
        if (LZ4F_isError(status)) {
            m_error = QString::fromUtf8(LZ4F_getErrorName(status));
            return Status::Error;
        }
        return status == 0 ? Status::End : Status::Working;
    }
    bool restart() override
    {
        if (m_context)
            LZ4F_resetDecompressionContext(m_context);
        return m_context != nullptr;
    }
    QString error() const override { return m_error; }

private:
    LZ4F_dctx *m_context = nullptr;
    QString m_error;
};

bool startsWith(const unsigned char *data, std::size_t available, const char *magic, std::size_t n)
{
    return available >= n && std::memcmp(data, magic, n) == 0;
}

std::uint32_t little32(const unsigned char *data)
{
    return std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16
        | std::uint32_t(data[3]) << 24;
}

} // namespace

Compression detectCompression(const unsigned char *data, std::size_t available)
{
    if (available < 6)
        return Compression::None;
    if (data[0] == 0x1f) {
        if (data[1] == 0x8b && data[2] == 0x08 && (data[3] & 0xe0) == 0)
            return Compression::Gzip;
        if (data[1] == 0x9d && (data[2] & 0x60) == 0 && (data[2] & 0x1f) >= 9
            && (data[2] & 0x1f) <= 16)
            return Compression::Compress;
        return Compression::None;
    }
    if (startsWith(data, available, "BZh", 3) && available >= 10 && data[3] >= '1' && data[3] <= '9'
        && (std::memcmp(data + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0
            || std::memcmp(data + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0))
        return Compression::Bzip2;
    // The stream flags carry their own CRC, which random bytes almost never match.
    if (startsWith(data, available,
            "\xfd"
            "7zXZ\0",
            6)
        && available >= 12 && data[6] == 0 && (data[7] & 0xf0) == 0
        && crc32(0, data + 6, 2) == little32(data + 8))
        return Compression::Xz;
    if (startsWith(data, available, "LZIP\x01", 5) && (data[5] & 0x1f) >= 12
        && (data[5] & 0x1f) <= 29)
        return Compression::Lzip;
    // No reserved bit, no dictionary (there is none to give), a window zstd decodes.
    if (startsWith(data, available, "\x28\xb5\x2f\xfd", 4) && (data[4] & 0x0b) == 0
        && ((data[4] & 0x20) != 0 || 10 + (data[5] >> 3) <= zstdWindowLog))
        return Compression::Zstd;
    if (startsWith(data, available, "\x04\x22\x4d\x18", 4) && (data[4] & 0xc2) == 0x40
        && (data[5] & 0x8f) == 0 && (data[5] >> 4) >= 4)
        return Compression::Lz4;
    if (data[0] == 0x89 && isLzopStart(data, available))
        return Compression::Lzop;
    // Last: with no magic, the costliest check.
    if (isLzmaAloneStart(data, available))
        return Compression::LzmaAlone;
    return Compression::None;
}

QString compressionName(Compression kind)
{
    switch (kind) {
    case Compression::Gzip:
        return QStringLiteral("gzip");
    case Compression::Bzip2:
        return QStringLiteral("bzip2");
    case Compression::Xz:
        return QStringLiteral("xz");
    case Compression::Lzip:
        return QStringLiteral("lzip");
    case Compression::Zstd:
        return QStringLiteral("zstd");
    case Compression::Lz4:
        return QStringLiteral("lz4");
    case Compression::Compress:
        return QStringLiteral("compress (.Z)");
    case Compression::LzmaAlone:
        return QStringLiteral("lzma");
    case Compression::Lzop:
        return QStringLiteral("lzop");
    case Compression::None:
        break;
    }
    return QString();
}

std::unique_ptr<Decoder> makeDecoder(Compression kind)
{
    switch (kind) {
    case Compression::Gzip:
        return std::make_unique<GzipDecoder>();
    case Compression::Bzip2:
        return std::make_unique<Bzip2Decoder>();
    case Compression::Xz:
        return std::make_unique<LzmaDecoder>(false);
    case Compression::Lzip:
        return std::make_unique<LzmaDecoder>(true);
    case Compression::Zstd:
        return std::make_unique<ZstdDecoder>();
    case Compression::Lz4:
        return std::make_unique<Lz4Decoder>();
    case Compression::LzmaAlone:
        return makeLzmaAloneDecoder();
    case Compression::Lzop:
        return makeLzopDecoder();
    case Compression::Compress:
    case Compression::None:
        break;
    }
    return nullptr;
}

} // namespace Quorlin
