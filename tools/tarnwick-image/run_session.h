#pragma once
/**
 * @file
 * What every imaging run of the command line shares, whatever it writes: the
 * image file and how it is put in place, the drive up to the first read, the
 * log of what the tape held, the checksum, the progress, and at the end the
 * run record beside the image and the lines that tell the user how it went.
 */
#include "archive/file_hasher.h"
#include "archive/image_target.h"
#include "archive/record_keeper.h"
#include "archive/run_record.h"
#include "archive/tape_log.h"
#include "tools/tarnwick-image/options.h"
#include "tools/tarnwick-image/progress_line.h"

class RunSession
{
public:
    explicit RunSession(const Options &options);

    ImageTarget &target() { return m_target; }
    TapeLog &log() { return m_log; }
    ProgressLine &progress() { return m_progress; }
    RunRecord::Record &record() { return m_record; }

    /// The image file claimed, the drive opened, loaded, ready, its medium's
    /// figures read, the volume checked. Returns an exit code.
    int begin();

    /**
     * The image file is whole. States @p verdict (in the words of @p text),
     * puts the image in place, writes the run record and the checksum beside
     * it and ejects the tape when asked. Returns @p code, or the code of what
     * went wrong in placing it.
     */
    int end(RunRecord::Verdict verdict, const QString &text, int code);

    /// The run failed: says @p message, keeps what was read and records why. Returns @p code.
    int fail(int code, const QString &message);

    /// A signal stopped the run: keeps what was read, says so, ends by the signal.
    [[noreturn]] void interrupted();

private:
    int prepare();
    void writeRecord(RunRecord::Verdict verdict, const QString &text, const QString &sha256);
    void reportProblems();

    const Options &m_options;
    ImageTarget m_target;
    TapeLog m_log;
    ProgressLine m_progress;
    FileHasher m_hasher;
    RunRecord::Record m_record;
    RecordKeeper m_keeper;
};
