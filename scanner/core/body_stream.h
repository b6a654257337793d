#pragma once
#include "scanner/core/scan_result.h"

#include <QFile>

namespace Quorlin {

/// Reads the body of an image as the stream of bytes the tape held: the body
/// itself, or, when every record is T bytes of data and zero padding up to S,
/// the first T bytes of each record. Offsets are stream offsets (see
/// ImageFacts::imageOffset).
class BodyStream
{
public:
    explicit BodyStream(const ImageFacts &facts);
    BodyStream(const BodyStream &) = delete;
    BodyStream &operator=(const BodyStream &) = delete;

    bool open();
    QString errorString() const { return m_file.errorString(); }
    qint64 length() const { return m_length; }

    /// Reads up to @p maxLength bytes from stream offset @p pos, never past the
    /// stream's end. Returns the count read (0 at the end), -1 on a read error.
    qint64 readAt(qint64 pos, char *buffer, qint64 maxLength);

private:
    QFile m_file;
    qint64 m_length;
    qint64 m_recordData; ///< T when padding is skipped, 0 when the body is read as it is
    qint64 m_recordLength; ///< S
};

} // namespace Quorlin
