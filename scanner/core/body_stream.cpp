#include "scanner/core/body_stream.h"

#include "scanner/core/record_layout.h"

#include <algorithm>
#include <cstring>

namespace Quorlin {
namespace {
constexpr qint64 gatherSize = 4 << 20;

std::shared_ptr<const RecordLayout> layoutOf(const ImageFacts &facts)
{
    if (facts.layout)
        return facts.layout;
    if (facts.recordData <= 0)
        return std::make_shared<RecordLayout>(RecordLayout::contiguous(facts.streamLength, 0));
    auto layout = std::make_shared<RecordLayout>();
    layout->append(
        { 0, 0, facts.recordData, qint64(facts.blockSize), facts.streamLength / facts.recordData });
    return layout;
}

} // namespace

BodyStream::BodyStream(const ImageFacts &facts)
    : m_length(facts.streamLength)
    , m_layout(layoutOf(facts))
{
    m_files.push_back(std::make_unique<QFile>(facts.path));
    for (const QString &path : facts.volumePaths)
        m_files.push_back(std::make_unique<QFile>(path));
}

bool BodyStream::open()
{
    for (const auto &file : m_files) {
        // Unbuffered: the callers' reads are already large, a second buffer only copies.
        if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            m_error = m_files.size() == 1
                ? file->errorString()
                : QStringLiteral("%1: %2").arg(file->fileName(), file->errorString());
            return false;
        }
    }
    return true;
}

qint64 BodyStream::readFile(int index, qint64 at, char *buffer, qint64 length)
{
    if (index < 0 || std::size_t(index) >= m_files.size())
        return -1;
    QFile &file = *m_files[std::size_t(index)];
    if (file.pos() != at && !file.seek(at)) {
        m_error = file.errorString();
        return -1;
    }
    const qint64 got = file.read(buffer, length);
    if (got < 0)
        m_error = file.errorString();
    return got;
}

qint64 BodyStream::readAt(qint64 pos, char *buffer, qint64 maxLength)
{
    qint64 total = 0;
    maxLength = std::min(maxLength, std::min(m_length, m_layout->streamLength()) - pos);
    while (total < maxLength) {
        const auto piece = m_layout->piece(pos + total);
        qint64 wanted = std::min(piece.second, maxLength - total);
        if (wanted <= 0)
            break;
        const RecordLayout::Run &run = m_layout->runAt(pos + total);
        const qint64 got = wanted < maxLength - total && run.stride > run.dataLength
            ? readRecords(pos + total, buffer + total, maxLength - total)
            : readFile(run.file, piece.first, buffer + total, wanted);
        if (got < 0)
            return -1;
        total += got;
        if (got == 0)
            break; // the file is shorter than its trailer said: it changed under us
    }
    return total;
}

// Records with framing between them: one file read over several, then their
// data parts are copied out, instead of one read per record.
qint64 BodyStream::readRecords(qint64 pos, char *buffer, qint64 maxLength)
{
    const RecordLayout::Run &run = m_layout->runAt(pos);
    const qint64 within = (pos - run.streamStart) % run.dataLength;
    const qint64 recordsLeft = (run.streamEnd() - pos + run.dataLength - 1) / run.dataLength;
    const qint64 records = std::max<qint64>(1,
        std::min({ recordsLeft, (maxLength + within + run.dataLength - 1) / run.dataLength,
            gatherSize / run.stride }));
    const qint64 span = (records - 1) * run.stride + run.dataLength - within;
    if (m_gather.size() < span)
        m_gather.resize(int(span));
    const qint64 got = readFile(run.file, m_layout->imageOffset(pos), m_gather.data(), span);
    if (got < 0)
        return -1;
    qint64 total = 0;
    for (qint64 r = 0; r < records && total < maxLength; ++r) {
        const qint64 from = r == 0 ? 0 : r * run.stride - within;
        const qint64 length = std::min({ r == 0 ? run.dataLength - within : run.dataLength,
            maxLength - total, std::max<qint64>(0, got - from) });
        if (length <= 0)
            break;
        std::memcpy(buffer + total, m_gather.constData() + from, size_t(length));
        total += length;
    }
    return total;
}

} // namespace Quorlin
