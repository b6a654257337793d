#include "scanner/core/body_stream.h"

#include <algorithm>

namespace Quorlin {

BodyStream::BodyStream(const ImageFacts &facts)
    : m_file(facts.path)
    , m_length(facts.streamLength)
    , m_recordData(facts.recordData)
    , m_recordLength(qint64(facts.blockSize))
{
}

bool BodyStream::open()
{
    // Unbuffered: the callers' reads are already large, a second buffer only copies.
    return m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 BodyStream::readAt(qint64 pos, char *buffer, qint64 maxLength)
{
    qint64 total = 0;
    maxLength = std::min(maxLength, m_length - pos);
    while (total < maxLength) {
        qint64 piece = maxLength - total;
        qint64 at = pos + total;
        if (m_recordData > 0) {
            piece = std::min(piece, m_recordData - at % m_recordData);
            at = at / m_recordData * m_recordLength + at % m_recordData;
        }
        if (m_file.pos() != at && !m_file.seek(at))
            return -1;
        const qint64 got = m_file.read(buffer + total, piece);
        if (got < 0)
            return -1;
        total += got;
        if (got < piece)
            break; // the file is shorter than its trailer said: it changed under us
    }
    return total;
}

} // namespace Quorlin
