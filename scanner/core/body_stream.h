#pragma once
#include "scanner/core/scan_result.h"

#include <QFile>

#include <memory>
#include <vector>

namespace Quorlin {

/// Reads the body of an image as the stream of bytes the tape held: the body
/// itself, or the data part of each record when records carry zero padding or
/// framing (.tap). Offsets are stream offsets (see ImageFacts::imageOffset).
class BodyStream
{
public:
    explicit BodyStream(const ImageFacts &facts);
    BodyStream(const BodyStream &) = delete;
    BodyStream &operator=(const BodyStream &) = delete;

    bool open();
    QString errorString() const { return m_error; }
    qint64 length() const { return m_length; }

    /// Reads up to @p maxLength bytes from stream offset @p pos, never past the
    /// stream's end. Returns the count read (0 at the end), -1 on a read error.
    qint64 readAt(qint64 pos, char *buffer, qint64 maxLength);

private:
    qint64 readRecords(qint64 pos, char *buffer, qint64 maxLength);
    qint64 readFile(int file, qint64 at, char *buffer, qint64 length);

    /// The image, then each further volume's image.
    std::vector<std::unique_ptr<QFile>> m_files;
    QString m_error;
    qint64 m_length;
    std::shared_ptr<const RecordLayout> m_layout;
    QByteArray m_gather; ///< framed records read in one piece, then taken apart
};

} // namespace Quorlin
