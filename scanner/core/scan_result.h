#pragma once
/**
 * @file
 * What the scanner learns about an image: its facts (size and trailer), the
 * archives it found with their entries, and the raw regions it could not
 * recognise. Offsets are stream offsets: positions in the bytes the tape
 * held, which are the positions in the image file unless the records carry
 * zero padding (ImageFacts::imageOffset turns one into the other).
 */
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <memory>

namespace Quorlin {

class RecordLayout;
qint64 layoutImageOffset(const RecordLayout &layout, qint64 streamOffset);

struct ImageFacts
{
    QString path;
    /// Further images read after this one as the next volumes of the same tape set, in
    /// order; the layout's runs name which image holds them (RecordLayout::Run::file).
    QStringList volumePaths;
    qint64 fileSize = 0;
    bool hasTrailer = false;
    quint64 tapeBlockLength = 0; ///< T
    quint64 blockSize = 0; ///< S
    qint64 bodyLength = 0;
    qint64 recordCount = 0;
    bool bodyDividesEvenly = false;
    /// Distance between record starts in the stream when every record has the
    /// same length (S, or the data length when the padding is left out); 0 when
    /// they differ.
    qint64 recordStep = 0;
    /// When records are tape data followed by zeros up to S (a run at a block
    /// size larger than the tape's) and only the data is read: the data length
    /// (the largest, when tape files differ; the layout has each). 0 when the
    /// body is read as it stands.
    qint64 recordData = 0;
    qint64 streamLength = 0; ///< bytes the readers see: the body, less the padding
    QString trailerNote; ///< why the trailer is missing or not trusted; empty when fine
    /// Where each stream byte lies in the file (padding decided record by record,
    /// .tap records); when null, recordData above says.
    std::shared_ptr<const RecordLayout> layout;
    bool tapFile = false; ///< a SIMH .tap file: records and tape marks are exact
    int tapeFiles = 0; ///< .tap: tape files found
    qint64 unreadableRecords = 0; ///< records flagged as read with an error (or not whole)
    /// Image spans that hold blocks the image's run record names as not read whole
    /// (unreadable, or cut); a span is wider than its block when the record leaves
    /// the block's place open.
    QVector<QPair<qint64, qint64>> recordedDamage;
    /// Image offsets where the run record puts the tape marks (records of zeros), where
    /// it tells them exactly.
    QVector<qint64> recordedTapeMarks;

    qint64 imageOffset(qint64 streamOffset) const
    {
        if (layout)
            return layoutImageOffset(*layout, streamOffset);
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
    bool damaged = false; ///< its data could not be read to the end, or holds unreadableAt
    /// The first byte of its data that a record flagged as unreadable holds (a .tap
    /// file), as a stream offset and as a position in the file; the data was read to
    /// its end all the same. -1 when none.
    qint64 unreadableAt = -1;
    qint64 unreadableByte = -1;
    /// Whole in length, but the compressed stream it came from fails its check.
    bool checkFailed = false;
    /// -1 when the entry's own stored data is its content (or it has none). For
    /// a hard link, the index (in the same archive) of the entry that stores the
    /// content all its names share: in tar the first name; in newc cpio the last
    /// one, so there the first names come before their data. size is what the
    /// entry itself stores (contentSize() gives the content's).
    int dataEntry = -1;
    /// Where its bytes lie in the stream, for archives the scanner reads itself
    /// (not through libarchive): pieces of the file at their offsets in it.
    struct Piece
    {
        qint64 fileOffset = 0;
        qint64 streamOffset = 0;
        qint64 length = 0;
    };
    QVector<Piece> pieces;
    int mode = -1; ///< permission bits when the scanner's own reader knows them, else -1
    /// What the reader says of it in words (why it is damaged, or why it is kept as
    /// stored); empty when there is nothing to say.
    QString note;
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
    bool volumeJoined = false; ///< a tar volume whose first member goes on from the archive before
    /// Stream offset of damage inside what was read (a record a .tap file flags as
    /// unreadable); -1 when the damage is where reading broke off, at offset + length.
    qint64 damageInside = -1;
    /// Where a damaged archive is read again up to, when past offset + length: the
    /// data of its last member that ran on, up to where it stops (the image's end).
    qint64 readEnd = -1;
    QString note; ///< what went wrong, in plain words
    /// An archive read from the parts of a split dump joined: its stream, the image's
    /// up to its first part, then each part's data back to back; null otherwise.
    std::shared_ptr<const RecordLayout> joinedLayout;
};

struct RawRegion
{
    qint64 offset = 0;
    qint64 length = 0;
    QString kind; ///< a volume the scan knows but cannot list ("dump"), or an Amanda header
                  ///< ("amanda"); empty for unknown data
    QString label; ///< what the volume says of itself (date, file system, level)
    int partOf = -1; ///< index of the damaged archive whose unreadable part this is
    /// A labelled tape file: the name its header label gives it, and how its records
    /// are laid out (see tape_labels.h); empty and 0 otherwise.
    QString name;
    char recordFormat = 0;
    int recordLength = 0;
    bool ebcdic = false;
};

/// A member of a multi-volume tar that one volume's tape file ends inside and the
/// next volumes' continuation headers carry on (the name and the offset of each part).
struct SplitMember
{
    int archive = -1; ///< where its first part lies (its last entry), or its first continuation
    int entry = -1;
    QByteArray path;
    qint64 size = 0; ///< the whole member's
    struct Part
    {
        qint64 at; ///< stream offset of the part's data
        qint64 offset; ///< where in the member it belongs
        qint64 length;
    };
    QVector<Part> parts;
    /// The continuation entries (archive, entry) that the join replaces.
    QVector<QPair<int, int>> continuations;
    uint mode = 0644;
    qint64 mtime = 0;
    qint64 uid = 0;
    qint64 gid = 0;
    QString missing; ///< what the image lacks of it, in plain words; empty when whole
    QString apart; ///< why its first continuation is not joined to the volume before
    /// Why its parts, all there, may still not be one member's (a join nothing confirms).
    QString doubt;
};

struct ScanResult
{
    ImageFacts facts;
    QVector<SplitMember> splitMembers;
    QVector<FoundArchive> archives;
    QVector<RawRegion> rawRegions;
    qint64 zeroBytes = 0; ///< all-zero records outside archives (tape marks, padding)
    bool cancelled = false;
    QString error; ///< set when the image could not be read at all
};

} // namespace Quorlin
