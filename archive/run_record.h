#pragma once
/**
 * @file
 * The run record that the command-line imager leaves beside an image,
 * "<image>.json": what was imaged from which drive, when, what the tape held
 * (its files, record lengths and unreadable blocks), what reached the image,
 * its checksum, and the verdict. The image's own format has no room for any
 * of this, and without it nobody can tell later whether an image holds the
 * whole tape.
 */
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

namespace RunRecord {

/// How much of the tape an image holds.
enum class Verdict {
    Complete, ///< every block and mark to the end of data
    Damaged, ///< read to the end, but some records are not whole in it (unreadable or cut)
    StopsShort, ///< the image ends before the end of data: the rest of the tape is not in it
    Unfinished, ///< the run failed or was interrupted: the file holds what was read so far
    NotKnown, ///< no run record to say, and the file alone cannot tell
};

/// "complete", "damaged", "stops-short", "unfinished", "not-known": the record's words.
QString verdictName(Verdict verdict);
Verdict verdictFromName(const QString &name, bool *ok = nullptr);

/// What kind of image a run wrote.
enum class ImageFormat {
    Tape, ///< the window's format: records and a trailer
    Tap, ///< a lossless master: every block at its own length, the marks
};

/// "tape", "tap": the record's words.
QString formatName(ImageFormat format);
/// An unknown word reads as Tape, the window's format.
ImageFormat formatFromName(const QString &name);

/// One tape file: the records between two tape marks.
struct TapeFile
{
    qint64 records = 0;
    QMap<quint32, qint64> lengths; ///< record length -> how many records had it
};

/// What happened to a block that needed more than one plain read.
enum class ProblemKind {
    Unreadable, ///< the drive could not read it: the image holds what it returned
    Cut, ///< longer than a read takes: only the start is in the image
    Recovered, ///< read whole, but only after reading it again (the image is not harmed)
};

/// "unreadable", "cut", "recovered": the record's words.
QString problemKindName(ProblemKind kind);
/// An unknown word reads as Unreadable, the kind that never flatters an image.
ProblemKind problemKindFromName(const QString &name, bool *ok = nullptr);

/// A block that did not reach the image whole, or only at a later read.
struct Problem
{
    quint64 block = 0; ///< 1-based, marks counted, as a drive numbers its blocks
    ProblemKind kind = ProblemKind::Unreadable;
    QString text; ///< the sentence the run printed
};

/// One pass of a rescue over a damaged tape.
struct Pass
{
    int number = 0;
    QDateTime started, ended;
    qint64 tried = 0; ///< records read (each visit once)
    qint64 good = 0;
    qint64 failed = 0;
    /// Where this run went on with a pass an earlier run began, the run having been
    /// stopped in it; -1 when this run began it.
    qint64 resumedAt = -1;
    /// Whether the figures count the earlier run's reads of the pass too, or only this run's.
    bool earlierCounted = false;
};

/// What the operator said of the cartridge: given on the command line, kept by the archive.
struct Operator
{
    QString description; ///< in the operator's words; empty when not given
    QString notes; ///< the text of a notes file; empty when none was given
    QString photoName; ///< the label photo's file name as given; empty when none
    qint64 photoSize = 0;
    QString photoSha256; ///< lower-case hex

    bool isEmpty() const { return description.isEmpty() && notes.isEmpty() && photoName.isEmpty(); }
    bool operator==(const Operator &other) const
    {
        return description == other.description && notes == other.notes
            && photoName == other.photoName && photoSize == other.photoSize
            && photoSha256 == other.photoSha256;
    }
    bool operator!=(const Operator &other) const { return !(*this == other); }
};

struct Record
{
    QString program;
    QString version;
    ImageFormat format = ImageFormat::Tape;
    QString devicePath;
    QString deviceKind; ///< "tape drive" or "virtual tape"
    QString vendor, product, revision, serial; ///< empty when the drive did not say
    QDateTime started, ended;
    QString blockSize; ///< the choice: "Auto" or a number
    QString answer; ///< the answer to the larger-block-size question, empty when not asked
    qint64 endOfData = -1; ///< blocks and marks before the end of data; -1 when unknown
    qint64 blocksRead = 0; ///< blocks and marks read
    qint64 marksRead = 0;
    QVector<TapeFile> files;
    QVector<Problem> problems;
    qint64 bytesWritten = 0; ///< the image file's size
    /// A master's buffer between reading and writing, in bytes; -1 for a run without one.
    qint64 bufferBytes = -1;
    qint64 readerWaits = 0; ///< times reading waited for the disk, the buffer being full
    double readerWaitSeconds = 0; ///< how long it waited in all
    Verdict verdict = Verdict::NotKnown;
    QString verdictText; ///< the verdict as the run stated it
    QString sha256; ///< of the image file, lower-case hex; empty when not computed
    QVector<Pass> passes; ///< a master's passes in this run (none for other images)
    QString map; ///< a master's rescue map in one line, empty for other images
    QJsonObject merge; ///< a merge's sources and the reads they differ in; empty otherwise
    /// What the drive told beyond its data (drive_witness.h); empty when nothing was asked.
    QJsonObject drive;
    Operator operatorFields; ///< empty when the operator gave none
};

QByteArray toJson(const Record &record);
/// False when @p json is not a run record.
bool fromJson(const QByteArray &json, Record &record);

/// The record's name for the image @p imagePath (native bytes): "<image>.json".
QByteArray recordPath(const QByteArray &imagePath);
/// The checksum file's name: "<image>.sha256", in the format sha256sum writes and checks.
QByteArray checksumPath(const QByteArray &imagePath);

/// Writes @p record beside @p imagePath, replacing any in one step; false when it could not
/// (NativeFile::lastError() says why).
bool writeBeside(const QByteArray &imagePath, const Record &record);
/// Writes @p sha256 beside @p imagePath in sha256sum's format, with the bare name, so that
/// `sha256sum -c` works in the folder; false as writeBeside().
bool writeChecksumBeside(const QByteArray &imagePath, const QString &sha256);

/// Reads the record beside @p imagePath; false when there is none or it is not one.
bool readBeside(const QByteArray &imagePath, Record &record);

} // namespace RunRecord
