#pragma once
/**
 * @file
 * What the scanner learns about an image: its facts (size and trailer), the
 * archives it found with their entries, and the raw regions it could not
 * recognise. Offsets are stream offsets: positions in the bytes the tape
 * held, which are the positions in the image file unless the records carry
 * zero padding (ImageFacts::imageOffset turns one into the other).
 */
#include <QString>
#include <QVector>
#include <QtGlobal>

namespace Quorlin {

struct ImageFacts
{
    QString path;
    qint64 fileSize = 0;
    bool hasTrailer = false;
    quint64 tapeBlockLength = 0; ///< T
    quint64 blockSize = 0; ///< S
    qint64 bodyLength = 0;
    qint64 recordCount = 0;
    bool bodyDividesEvenly = false;
    /// Distance between record starts in the stream when every record has the
    /// same length (S, or T when the padding is left out); 0 when they differ.
    qint64 recordStep = 0;
    /// T when each record is T bytes of data followed by zeros up to S (a run
    /// at a block size larger than the tape's) and only those T bytes are read;
    /// 0 when the body is read as it stands.
    qint64 recordData = 0;
    qint64 streamLength = 0; ///< bytes the readers see: the body, less the padding
    QString trailerNote; ///< why the trailer is missing or not trusted; empty when fine

    qint64 imageOffset(qint64 streamOffset) const
    {
        return recordData > 0
            ? streamOffset / recordData * qint64(blockSize) + streamOffset % recordData
            : streamOffset;
    }
};

struct FoundEntry
{
    enum Type { File, Directory, Symlink, Hardlink, Other };
    QString path;
    qint64 size = 0;
    qint64 mtime = 0; ///< seconds since 1970, 0 when the archive gives none
    Type type = File;
    QString linkTarget;
    QByteArray rawPath; ///< the path's bytes as the archive holds them
    QByteArray rawLinkTarget;
    bool damaged = false; ///< its data could not be read to the end
};

struct FoundArchive
{
    qint64 offset = 0;
    qint64 length = 0; ///< bytes of the image it covers, up to the damage when damaged
    QString format; ///< as libarchive names it, e.g. "GNU tar format"
    QString filter; ///< compression ("gzip"), empty when none
    QVector<FoundEntry> entries;
    bool damaged = false;
    bool continuation = false; ///< found right after the damage of the archive before it
    QString note; ///< what went wrong, in plain words
};

struct RawRegion
{
    qint64 offset = 0;
    qint64 length = 0;
};

struct ScanResult
{
    ImageFacts facts;
    QVector<FoundArchive> archives;
    QVector<RawRegion> rawRegions;
    qint64 zeroBytes = 0; ///< all-zero records outside archives (tape marks, padding)
    bool cancelled = false;
    QString error; ///< set when the image could not be read at all
};

} // namespace Quorlin
