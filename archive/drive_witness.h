#pragma once
/**
 * @file
 * What the drive says during a run that st does not pass on: its TapeAlert
 * flags and error counters before the run, after each failed read and at the
 * end, and the sense of each failed read (read again past st at the record's
 * position). It names what happened in words, keeps it for the run record's
 * "drive" object, and tells the reader what to do next: read again, give up
 * on the block at once (the tape is at risk), or stop the run (clean the
 * drive, a format this drive cannot read, no tape).
 *
 * A device that tells nothing (the virtual tape, a drive whose generic node
 * the user may not open) is said so once, and the run goes on as before.
 */
#include "platform/backend/drive_facts.h"
#include "platform/backend/win32_types.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class DriveWitness
{
public:
    enum class Advice {
        ReadAgain, ///< as many times as the run allows
        PassOn, ///< no more reads of this block
        StopRun, ///< stop reading; what was read is kept
    };

    /// Watches @p drive; @p keepRetrying reads a block again even when the tape is at risk.
    DriveWitness(HANDLE drive, bool keepRetrying);

    /// Before the first read: the drive's facts, TapeAlert and counters. StopRun when the
    /// drive must be cleaned first.
    Advice beforeRun();
    /// After a read of @p block (0-based, marks counted) failed with @p error.
    Advice afterFailedRead(DWORD error, quint64 block);
    /// After the last read: TapeAlert and counters again.
    void atEnd();

    /// Why the drive stopped the run, in words; empty when it did not.
    QString stopText() const { return m_stopText; }
    /// The cartridge's barcode; empty when the drive did not tell.
    QString barcode() const;
    /// The run record's "drive" object.
    QJsonObject json() const;

    /// The barcode of the cartridge in the drive, asked before a run opens it (and without
    /// clearing TapeAlert); empty when the drive does not tell.
    static QString barcodeInDrive();
    /// "<barcode>_<date and time>.tap", a character of the barcode that has no place in a file
    /// name made "_".
    static QString masterName(const QString &barcode, const QDateTime &when);

private:
    /// Reads TapeAlert and the counters into @p into; says the flags set @p when.
    TapeAlertFacts readAlerts(const QString &when, QJsonObject &into);
    Advice judge(const TapeAlertFacts &alerts, const SenseFacts &sense, quint64 block);
    void recordLength(const ReadFailureFacts &failure, quint64 block);

    HANDLE m_drive;
    bool m_keepRetrying;
    bool m_tells = false; ///< the device answers the drive's own pages
    DriveFacts m_facts;
    QJsonObject m_json;
    QJsonArray m_failures;
    QString m_stopText;
    quint64 m_lastBlock = ~quint64(0); ///< the block whose sense was taken last
};
