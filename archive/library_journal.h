#pragma once
/**
 * @file
 * The batch journal of a library run: one SQLite database in the batch's
 * folder (DIR/library.sqlite) that says, for every cartridge the batch
 * chose, each attempt to image it and how it ended, and every event the
 * batch reported (an empty slot, a cleaning cartridge, a drive left alone, a
 * move that failed). People query it with any SQLite tool; the batch reads it
 * back to decide what a second run of the same command does. library.csv and
 * library.json summarise it, one line or object per cartridge.
 */
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Library {

/// One attempt to image one cartridge.
struct Attempt
{
    qint64 id = 0; ///< the journal's row; 0 until begun
    QString cartridge; ///< the barcode, or "slot-<n>" for a cartridge without one
    QString barcode; ///< empty when it has none
    int slot = 0; ///< its home slot, numbered as the inventory numbers slots
    QString drive; ///< the tape drive's node, e.g. /dev/nst1
    QString image; ///< the master's file name in the batch's folder
    QDateTime started, ended; ///< UTC; ended invalid while it runs
    qint64 bytes = 0, records = 0, tapeFiles = 0; ///< from the image's run record
    /// "running" while it runs (a batch killed then leaves it so), then one of
    /// "complete", "damaged", "stops-short" (the image's verdict), "interrupted"
    /// (stopped by a signal; the master can be resumed) or "failed" (it did not
    /// load, the drive was not ready, the imager failed: see errors).
    QString verdict;
    QString sha256; ///< of the image, when it was placed
    QStringList errors; ///< one sentence each, as the batch printed them
    QString description; ///< the operator's --describe text
    /// The drive node it was left in when it could not be put back; empty once it is home.
    /// The next batch knows it there as its own and puts it back.
    QString leftIn;
};

/// What a new run of the batch does with a cartridge, from its latest attempt.
enum class NextStep {
    Image, ///< never tried: image it
    Skip, ///< its latest attempt is complete
    Resume, ///< its latest attempt is running or interrupted: go on with its master
    Retry, ///< its latest attempt failed, was damaged or stops short, and --retry-failed was given
    LeaveFailed, ///< the same without --retry-failed: reported, not touched
};

/// One connection to the journal. Its calls may come from several threads (one
/// per drive): they take turns. Other processes reach the same file through
/// SQLite's own file locks, each write waiting for them up to a bound.
class Journal
{
public:
    Journal();
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    /// Opens DIR/library.sqlite, creating it and its tables when missing; on
    /// failure @p problem says why (a folder that cannot be written, a file
    /// that is not a journal, one that a newer program wrote).
    bool open(const QString &folder, QString &problem);

    /// The journal's file, once open.
    QString path() const;

    /// LeaveFailed when the journal cannot be read (lastProblem() says why): a
    /// cartridge whose past is not known is not touched.
    NextStep nextStep(const QString &cartridge, bool retryFailed) const;
    /// Why the last nextStep() or latest() could not read the journal; empty when it could.
    QString lastProblem() const;

    /// Records an attempt as running; fills @p attempt.id, sets its verdict to "running" and its
    /// start, when not set, to now (in whole seconds, as stored). On the disk when it returns.
    bool begin(Attempt &attempt, QString &problem);
    /// Records how the attempt ended (verdict, counts, checksum, errors, ended: now when not
    /// set; an empty drive or image keeps the one begin() recorded) and the drive it was left
    /// in, if any. On the disk when it returns.
    bool finish(const Attempt &attempt, QString &problem);
    /// Records something the batch reported that is not an attempt: "slot 4
    /// is empty", "drive 1 holds a cartridge at the start: left alone".
    bool event(const QString &cartridge, int slot, const QString &drive, const QString &text,
        QString &problem);

    /// The latest attempt of every cartridge, in slot order.
    std::vector<Attempt> latest() const;

    /// Writes DIR/library.csv and DIR/library.json from latest() (each written
    /// beside and renamed into place, so a reader never sees half of one).
    bool writeSummaries(QString &problem) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Library
