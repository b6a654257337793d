#include "scanner/core/carver.h"

#include "scanner/core/archive_stream.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/signatures.h"

#include <algorithm>

namespace Quorlin {
namespace {

constexpr qint64 tarBlock = 512;
constexpr qint64 windowSize = 4 << 20;
constexpr qint64 progressInterval = 16 << 20;

/// Smallest value >= x on the grid base + k * step.
qint64 alignUp(qint64 x, qint64 base, qint64 step)
{
    const qint64 from = x - base;
    return base + (from + step - 1) / step * step;
}

/// A sliding view of the stream, refilled with one large read whenever the
/// scan moves past it; the bytes inside archives are never read through it.
class StreamWindow
{
public:
    explicit StreamWindow(BodyStream &stream)
        : m_stream(stream)
    {
        m_buffer.resize(windowSize);
    }

    /// Makes [pos, pos + need) available (cut at the stream's end). False on a read error.
    bool ensure(qint64 pos, qint64 need)
    {
        const qint64 wanted = std::min(pos + need, m_stream.length());
        if (pos >= m_start && wanted <= m_start + m_length)
            return true;
        const qint64 got = m_stream.readAt(pos, m_buffer.data(), windowSize);
        if (got < 0)
            return false;
        m_start = pos;
        m_length = got;
        return wanted <= m_start + m_length;
    }

    const unsigned char *at(qint64 pos) const
    {
        return reinterpret_cast<const unsigned char *>(m_buffer.constData()) + (pos - m_start);
    }
    qint64 availableAt(qint64 pos) const { return m_start + m_length - pos; }

private:
    BodyStream &m_stream;
    QByteArray m_buffer;
    qint64 m_start = 0;
    qint64 m_length = 0;
};

qint64 firstNonZero(const unsigned char *data, qint64 length)
{
    qint64 i = 0;
    while (i < length && data[i] == 0)
        ++i;
    return i;
}

/// The walk over the stream: at each possible archive start, an archive is
/// read and stepped over; everything else is zeros or raw data.
class Carver
{
public:
    Carver(ScanResult &result, BodyStream &stream, const ScanProgress &progress,
        const std::atomic<bool> *cancel)
        : m_result(result)
        , m_facts(result.facts)
        , m_window(stream)
        , m_end(stream.length())
        , m_progress(progress)
        , m_cancel(cancel)
    {
    }

    void run()
    {
        qint64 lastReport = 0;
        bool afterZeros = false;
        while (m_pos < m_end) {
            if (m_cancel && m_cancel->load()) {
                m_result.cancelled = true;
                break;
            }
            if (m_progress && m_pos - lastReport >= progressInterval) {
                m_progress(m_pos, m_end);
                lastReport = m_pos;
            }
            const qint64 next = nextCandidate(m_pos + 1);
            if (!m_window.ensure(m_pos, std::max(next - m_pos, tarBlock))) {
                m_result.error = QStringLiteral("Reading the image failed at offset %1")
                                     .arg(m_facts.imageOffset(m_pos));
                break;
            }
            if (tryArchive(m_pos, next)) {
                afterZeros = false;
                continue;
            }
            const unsigned char *data = m_window.at(m_pos);
            if (allZero(data, std::size_t(next - m_pos))) {
                closeRaw(m_pos);
                m_result.zeroBytes += next - m_pos;
                afterZeros = true;
                m_pos = next;
                continue;
            }
            // A tape mark as long as an odd-sized first block leaves the next
            // tape file off every grid: it starts at the first non-zero byte.
            qint64 start = m_pos;
            if (afterZeros) {
                start += firstNonZero(data, next - m_pos);
                m_result.zeroBytes += start - m_pos;
                if (start > m_pos && m_window.ensure(start, tarBlock) && tryArchive(start, next)) {
                    afterZeros = false;
                    continue;
                }
            }
            afterZeros = false;
            if (m_rawStart < 0)
                m_rawStart = start;
            m_pos = next;
        }
        closeRaw(std::min(m_pos, m_end));
        if (m_progress)
            m_progress(std::min(m_pos, m_end), m_end);
    }

private:
    qint64 nextCandidate(qint64 from) const
    {
        qint64 next = alignUp(from, 0, tarBlock);
        if (m_facts.recordStep > 0)
            next = std::min(next, alignUp(from, 0, m_facts.recordStep));
        if (m_fineBase >= 0) // a damaged archive's headers sit on its own 512 grid
            next = std::min(next, alignUp(from, m_fineBase, tarBlock));
        return std::min(next, m_end);
    }

    /// Reads the archive at @p at when one starts there, and moves past it.
    bool tryArchive(qint64 at, qint64 next)
    {
        const auto available = std::size_t(std::min(m_window.availableAt(at), tarBlock));
        if (detectSignature(m_window.at(at), available) == Signature::None)
            return false;
        FoundArchive archive;
        qint64 damageAt = -1;
        if (!readArchive(m_facts, at, m_end, &archive, &damageAt, m_cancel))
            return false;
        closeRaw(m_pos);
        archive.continuation = m_fineBase >= 0;
        m_result.archives.append(archive);
        if (damageAt >= 0) {
            m_fineBase = at;
            m_pos = std::max(nextCandidate(damageAt), next);
        } else {
            m_fineBase = -1;
            m_pos = std::max(nextCandidate(at + archive.length), next);
        }
        return true;
    }

    void closeRaw(qint64 at)
    {
        if (m_rawStart >= 0 && at > m_rawStart)
            m_result.rawRegions.append({ m_rawStart, at - m_rawStart });
        m_rawStart = -1;
    }

    ScanResult &m_result;
    const ImageFacts &m_facts;
    StreamWindow m_window;
    const qint64 m_end;
    const ScanProgress &m_progress;
    const std::atomic<bool> *m_cancel;
    qint64 m_pos = 0;
    qint64 m_fineBase = -1; ///< start of the last damaged archive, -1 when none
    qint64 m_rawStart = -1;
};

} // namespace

ScanResult scanImage(
    const QString &path, const ScanProgress &progress, const std::atomic<bool> *cancel)
{
    ScanResult result;
    result.facts = readImageFacts(path);
    ScanProgress scanPart = progress;
    if (mayBePadded(result.facts)) {
        // The padding check reads the body once more: the first half of the progress.
        const double body = double(result.facts.bodyLength);
        ScanProgress checkPart;
        if (progress) {
            checkPart = [&](qint64 done, qint64) { progress(done, 2 * qint64(body)); };
            scanPart = [&](qint64 done, qint64 total) {
                progress(qint64(body + body * double(done) / double(std::max<qint64>(total, 1))),
                    2 * qint64(body));
            };
        }
        if (!settlePadding(&result.facts, checkPart, cancel, &result.error)) {
            result.cancelled = cancel && cancel->load();
            return result;
        }
    }
    BodyStream stream(result.facts);
    if (!stream.open()) {
        result.error = stream.errorString();
        return result;
    }
    Carver(result, stream, scanPart, cancel).run();
    return result;
}

} // namespace Quorlin
