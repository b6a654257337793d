#pragma once
/**
 * @file
 * What the scanner learns about an image: its facts (size and trailer), the
 * archives it found with their entries, and the raw regions it could not
 * recognise. Offsets are byte positions in the image file.
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
    /// Distance between the positions where an archive may start: S when the
    /// records are known to be S bytes long, otherwise a tar block.
    qint64 scanStep = 512;
    QString trailerNote; ///< why the trailer is missing or not trusted; empty when fine
};

struct FoundEntry
{
    enum Type { File, Directory, Symlink, Hardlink, Other };
    QString path;
    qint64 size = 0;
    qint64 mtime = 0; ///< seconds since 1970, 0 when the archive gives none
    Type type = File;
    QString linkTarget;
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
