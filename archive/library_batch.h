#pragma once
/**
 * @file
 * A library batch: every planned cartridge moved into a free drive, imaged
 * by a tarnwick-image child (one per drive, all drives at once, the robot
 * moving one cartridge at a time), unloaded and moved back to its slot, each
 * attempt and everything passed over written to the journal. The changer,
 * the drives and the journal are interfaces, so that the loop runs in tests
 * against virtual tapes.
 */
#include "archive/library_journal.h"
#include "archive/library_plan.h"
#include "archive/run_record.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace Library {

/// The robot as the batch uses it: one move at a time (the batch sees to that).
class Robot
{
public:
    virtual ~Robot() = default;
    virtual bool move(std::uint16_t from, std::uint16_t to, QString &problem) = 0;
    /// Whether the element at @p address holds a cartridge now, and its barcode; false
    /// when the robot cannot tell (the batch then trusts the inventory it began with).
    virtual bool holds(std::uint16_t address, bool &full, QString &barcode)
    {
        (void)address, (void)full, (void)barcode;
        return false;
    }
};

/// The tape drives as the batch handles them between images.
class DriveHandler
{
public:
    virtual ~DriveHandler() = default;
    /// 1 when the cartridge in the drive at @p node is ready, 0 not yet, -errno.
    virtual int ready(const QString &node) = 0;
    /// Unloads the cartridge so the robot can take it; empty, or what went wrong.
    virtual QString unload(const QString &node) = 0;
    /// What the imager reads as $TAPE for the drive at @p node.
    virtual QString tapeOf(const QString &node) { return node; }
};

/// Where the batch keeps its attempts and events (the journal, in the program).
class Ledger
{
public:
    virtual ~Ledger() = default;
    virtual NextStep nextStep(const QString &cartridge, bool retryFailed) = 0;
    /// Why the last nextStep() or latest() could not read; empty when they could.
    virtual QString lastProblem() { return QString(); }
    virtual bool begin(Attempt &attempt, QString &problem) = 0;
    virtual bool finish(const Attempt &attempt, QString &problem) = 0;
    virtual bool event(const QString &cartridge, int slot, const QString &drive,
        const QString &text, QString &problem)
        = 0;
    virtual std::vector<Attempt> latest() = 0;
    virtual bool writeSummaries(QString &problem) = 0;
};

/// The journal as the batch's ledger.
std::unique_ptr<Ledger> journalLedger(Journal &journal);

struct BatchSettings
{
    QString folder; ///< where the images and the journal go
    QString imager; ///< tarnwick-image's path
    bool tapFormat = true; ///< a master (.tap); else the window's format (.tape)
    QStringList imagerOptions; ///< passed on as they are (--passes, --retries, ...)
    QString description; ///< --describe, passed on and kept in the journal
    bool retryFailed = false;
    bool unloadForeign = false;
    int loadTimeoutSeconds = 300;
    std::uint16_t transport = 0; ///< the robot's hand, for MOVE MEDIUM
    std::vector<QString> driveNodes; ///< the tape node of each drive; empty: not used
    /// The signal that asks the batch to stop, or 0; asked often on the main thread.
    std::function<int()> stopRequested;
    /// A message line, on the main thread.
    std::function<void(const QString &)> say;
    /// The progress lines (one per drive at work, the overall line last), on the main thread.
    std::function<void(const QStringList &)> progress;
};

/// How a child imager ended, as the batch saw it.
struct ChildEnd
{
    bool started = true;
    int exitCode = 0; ///< when it exited
    int signal = 0; ///< when a signal ended it
    bool haveRecord = false; ///< a run record this run wrote
    RunRecord::Record record;
    QStringList messages; ///< its failure lines ("tarnwick-image: ...")
};

struct ChildJudgement
{
    QString verdict; ///< the journal's word
    QStringList errors;
    bool driveNeedsCleaning = false;
};

/// The attempt's verdict and errors from how its child ended; @p stopping when the
/// batch was asked to stop.
ChildJudgement judgeChild(const ChildEnd &end, bool stopping);

/// The part of one of the imager's progress lines worth showing ("45% 1.2 GB, 30 MB/s,
/// 0:01:00 left, tape file 2"); empty when @p line is not one.
QString progressOf(const QString &line);

struct BatchResult
{
    int notComplete = 0; ///< chosen cartridges not imaged completely
    int stoppedBy = 0; ///< the signal that stopped it, or 0
    QString ledgerProblem; ///< the journal could not be written: the batch stopped
};

class Batch
{
public:
    Batch(Robot &robot, DriveHandler &drives, Ledger &ledger, const BatchSettings &settings);
    ~Batch();
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    /**
     * Empties the drives that hold a cartridge at the start and may be emptied: one this
     * batch's journal left running there (it goes home and is resumed), or any with
     * --unload-foreign (it goes to the slot it came from). True when a cartridge moved,
     * so that the inventory must be read again.
     */
    bool takeBackDrives(const Inventory &inventory);

    /// Runs the batch over @p plan; returns when every cartridge is done or it was stopped.
    BatchResult run(const Inventory &inventory, const BatchPlan &plan);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Library
