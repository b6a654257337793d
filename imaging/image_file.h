#pragma once
/**
 * @file
 * The tape image file: records back to back, then a text trailer of four
 * numbers " T D1 S D2" (each printed with "% d"), where T is the tape's block
 * length, S the block size the records were written at, and D1, D2 their
 * decimal digit counts. There is no header, index or checksum.
 */
#include <QString>
#include <QtGlobal>

#include <cstdio>

class QIODevice;

namespace ImageFile {

/// Number of decimal digits of @p value (0 to 9 give 1).
int digitCount(quint64 value);

/// The trailer text for T and S, exactly as the writer appends it.
QByteArray trailerText(quint32 tapeBlockLength, quint32 blockSize);

/**
 * Opens @p path (converted to UTF-8) for writing from scratch, as fopen "wb" would, but only
 * as a new file or the user's own regular file: never through a link, never a pipe or device.
 * Null when it cannot be created or something else holds the name.
 */
std::FILE *openForWriting(const QString &path);

/**
 * Writes one record of @p recordLength bytes from @p buffer with one fwrite:
 * the @p bytesRead bytes of the block, then zeros up to the record length
 * (written into @p buffer first, which must hold @p recordLength bytes).
 * Returns false when the stream took fewer bytes.
 */
bool writeRecord(std::FILE *file, unsigned char *buffer, quint32 bytesRead, quint32 recordLength);

/// Appends the trailer to @p file. Returns false when the stream reports a write error.
bool writeTrailer(std::FILE *file, quint32 tapeBlockLength, quint32 blockSize);

/// What a reader finds at the end of an image file.
struct Trailer
{
    bool valid = false; ///< false: no trailer (an abandoned run, or not an image)
    quint64 tapeBlockLength = 0; ///< T
    quint64 blockSize = 0; ///< S
    qint64 fileSize = 0;
    qint64 bodyLength = 0; ///< bytes before the trailer (the whole file when invalid)
    qint64 trailerLength = 0; ///< 6 + D1 + D2 when valid
    qint64 recordCount = 0; ///< bodyLength / S when S > 0
    bool bodyDividesEvenly = false; ///< bodyLength is a whole number of S-byte records
    QString problem; ///< why the trailer is not valid, in plain words
};

/// Finds the trailer by reading backwards from the end of @p device (which must be seekable).
Trailer readTrailer(QIODevice &device);
/// Same for a file on disk; a file that cannot be opened gives an invalid trailer.
Trailer readTrailer(const QString &path);

} // namespace ImageFile
