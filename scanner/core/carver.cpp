#include "scanner/core/carver.h"

#include "imaging/image_file.h"
#include "scanner/core/archive_stream.h"
#include "scanner/core/signatures.h"

#include <QFile>

#include <algorithm>

namespace Quorlin {
namespace {

constexpr qint64 tarBlock = 512;
constexpr qint64 largestBlockSize = 524289;
constexpr qint64 windowSize = 4 << 20;
constexpr qint64 progressInterval = 16 << 20;

/// Smallest value >= x on the grid base + k * step.
qint64 alignUp(qint64 x, qint64 base, qint64 step)
{
    const qint64 from = x - base;
    return base + (from + step - 1) / step * step;
}

/// A sliding view of the body, refilled with one large read whenever the scan
/// moves past it; the bytes inside archives are never read through it.
class BodyWindow
{
public:
    BodyWindow(QFile &file, qint64 bodyEnd)
        : m_file(file)
        , m_bodyEnd(bodyEnd)
    {
        m_buffer.resize(windowSize);
    }

    /// Makes [pos, pos + need) available (cut at the body's end). False on a read error.
    bool ensure(qint64 pos, qint64 need)
    {
        const qint64 wanted = std::min(pos + need, m_bodyEnd);
        if (pos >= m_start && wanted <= m_start + m_length)
            return true;
        if (!m_file.seek(pos))
            return false;
        const qint64 got
            = m_file.read(m_buffer.data(), std::min<qint64>(windowSize, m_bodyEnd - pos));
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
    QFile &m_file;
    qint64 m_bodyEnd;
    QByteArray m_buffer;
    qint64 m_start = 0;
    qint64 m_length = 0;
};

} // namespace

ImageFacts readImageFacts(const QString &path)
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
    ImageFacts facts;
    facts.path = path;
    facts.fileSize = trailer.fileSize;
    facts.hasTrailer = trailer.valid;
    facts.tapeBlockLength = trailer.tapeBlockLength;
    facts.blockSize = trailer.blockSize;
    facts.bodyLength = std::max<qint64>(0, std::min(trailer.bodyLength, trailer.fileSize));
    facts.recordCount = trailer.recordCount;
    facts.bodyDividesEvenly = trailer.bodyDividesEvenly;
    if (!trailer.valid) {
        facts.trailerNote
            = QStringLiteral("No trailer (%1): the whole file is scanned as records "
                             "in 512-byte steps.")
                  .arg(trailer.problem.isEmpty() ? QStringLiteral("not found") : trailer.problem);
    } else if (trailer.blockSize == 0 || trailer.blockSize > largestBlockSize
        || !trailer.bodyDividesEvenly) {
        // Either the trailer lies or the records differ in length (an "Auto"
        // run over blocks of several sizes): do not trust S as a record grid.
        facts.trailerNote = QStringLiteral("The records are not all %1 bytes long: the body is "
                                           "scanned in 512-byte steps.")
                                .arg(trailer.blockSize);
    } else {
        facts.scanStep = static_cast<qint64>(trailer.blockSize);
    }
    return facts;
}

ScanResult scanImage(
    const QString &path, const ScanProgress &progress, const std::atomic<bool> *cancel)
{
    ScanResult result;
    result.facts = readImageFacts(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        result.error = file.errorString();
        return result;
    }
    const qint64 body = result.facts.bodyLength;
    const qint64 step = result.facts.scanStep;
    BodyWindow window(file, body);
    qint64 pos = 0;
    qint64 fineBase = -1; // start of a damaged archive: its headers sit on its own 512 grid
    qint64 rawStart = -1;
    qint64 lastReport = 0;
    auto closeRaw = [&](qint64 at) {
        if (rawStart >= 0 && at > rawStart)
            result.rawRegions.append({ rawStart, at - rawStart });
        rawStart = -1;
    };
    auto nextCandidate = [&](qint64 from) {
        qint64 next = alignUp(from, 0, step);
        if (fineBase >= 0)
            next = std::min(next, alignUp(from, fineBase, tarBlock));
        return std::min(next, body);
    };
    while (pos < body) {
        if (cancel && cancel->load()) {
            result.cancelled = true;
            break;
        }
        if (progress && pos - lastReport >= progressInterval) {
            progress(pos, body);
            lastReport = pos;
        }
        const qint64 next = nextCandidate(pos + 1);
        if (!window.ensure(pos, std::max(next - pos, tarBlock))) {
            result.error = QStringLiteral("Reading the image failed at offset %1: %2")
                               .arg(pos)
                               .arg(file.errorString());
            break;
        }
        const unsigned char *data = window.at(pos);
        const auto available
            = static_cast<std::size_t>(std::min(window.availableAt(pos), tarBlock));
        if (detectSignature(data, available) != Signature::None) {
            FoundArchive archive;
            qint64 damageAt = -1;
            if (readArchive(path, pos, body, &archive, &damageAt, cancel)) {
                closeRaw(pos);
                archive.continuation = fineBase >= 0;
                result.archives.append(archive);
                if (damageAt >= 0) {
                    fineBase = pos;
                    pos = std::max(nextCandidate(damageAt), next);
                } else {
                    fineBase = -1;
                    pos = std::max(nextCandidate(pos + archive.length), next);
                }
                continue;
            }
        }
        if (allZero(data, static_cast<std::size_t>(next - pos))) {
            closeRaw(pos);
            result.zeroBytes += next - pos;
        } else if (rawStart < 0) {
            rawStart = pos;
        }
        pos = next;
    }
    closeRaw(std::min(pos, body));
    if (progress)
        progress(std::min(pos, body), body);
    return result;
}

} // namespace Quorlin
