#pragma once
/**
 * @file
 * What every imaging run shares, whatever it writes: the image file and how
 * it is put in place, the drive up to the first read, the log of what the
 * tape held, the checksum, and at the end the run record beside the image
 * and the lines that tell how it went. The caller shows progress and turns
 * the failures into its own exit codes.
 */
#include "archive/file_hasher.h"
#include "archive/image_target.h"
#include "archive/notices.h"
#include "archive/record_keeper.h"
#include "archive/rescue_map.h"
#include "archive/run_record.h"
#include "archive/tape_log.h"

class ImagingRun
{
public:
    struct Settings
    {
        ImageTarget::Settings target;
        bool tap = false; ///< a .tap master, each block at its own length
        QString blockSizeText; ///< the block size as chosen, for the record
        unsigned driveBlockSize = 0; ///< what the drive is set to (0: variable)
        bool checksum = false;
        QString program; ///< who made the image, for the record
        QString version;
        RunRecord::Operator operatorFields; ///< what the operator said of the cartridge
        QByteArray labelPhoto; ///< the label photo's bytes, when one was given
    };

    explicit ImagingRun(const Settings &settings);

    ImageTarget &target() { return m_target; }
    TapeLog &log() { return m_log; }
    RunRecord::Record &record() { return m_record; }
    /// A master's rescue map as the claim found it (empty when it starts afresh).
    const Rescue::Map &rescueMap() const { return m_map; }
    bool resumed() const { return m_resumed; }
    /// The record the run that a master goes on with left (empty when none).
    const RunRecord::Record &earlierRecord() const { return m_earlier; }
    /// The image file was replaced under its name by the file open as @p fd.
    void replaceImage(int fd);
    /// What the image holds in the closing line, instead of what this run's log met (a
    /// run that went on with an earlier one's image met only part of it).
    void describeImageAs(const QString &summary) { m_imageSummary = summary; }

    /// Claims the image file; the run's start is on record, and the operator's fields
    /// (with the earlier run's, when a master goes on) with the label photo beside it.
    Archive::Failure claim();
    /// The drive opened, loaded, ready, its medium's figures read, the volume checked.
    Archive::Failure prepareDrive();
    /// The drive is ready: who it is goes on record, the checksum starts.
    void start();

    /**
     * The image file is whole: states @p verdict (in the words of @p text),
     * puts the image in place and writes the run record and the checksum
     * beside it, then says what the image holds.
     */
    Archive::Failure finish(RunRecord::Verdict verdict, const QString &text);

    /// After a failed run: an empty partial file goes, and the label photo with it.
    /// Returns whether the partial file remains.
    bool keepWhatWasRead();

    /// The run failed for @p message: keeps what was read and records why.
    /// Returns the message to end with, which says what was left.
    QString abandon(const QString &message);

    /// The words for a run stopped by @p signal after the blocks read so far.
    QString stoppedBy(int signal) const;

private:
    Archive::Failure claimLabelPhoto();
    void placeLabelPhoto();
    void writeRecord(RunRecord::Verdict verdict, const QString &text, const QString &sha256);
    void reportProblems();

    const bool m_checksum;
    const bool m_tap;
    const bool m_force;
    Rescue::Map m_map;
    bool m_resumed = false;
    RunRecord::Record m_earlier;
    QString m_imageSummary;
    const unsigned m_driveBlockSize;
    ImageTarget m_target;
    TapeLog m_log;
    FileHasher m_hasher;
    RunRecord::Record m_record;
    RecordKeeper m_keeper;
    QByteArray m_labelPhoto;
};
