#pragma once
/**
 * @file
 * An imaging run on the command line: the archive's run with the progress
 * line beside it, its failures as exit codes and its messages on the console.
 */
#include "archive/imaging_run.h"
#include "tools/tarnwick-image/options.h"
#include "tools/tarnwick-image/progress_line.h"

class RunSession
{
public:
    explicit RunSession(const Options &options);

    ImageTarget &target() { return m_run.target(); }
    TapeLog &log() { return m_run.log(); }
    ProgressLine &progress() { return m_progress; }
    RunRecord::Record &record() { return m_run.record(); }
    ImagingRun &run() { return m_run; }

    /// The image file claimed and the drive made ready. Returns an exit code.
    int begin();

    /// The image file is whole: puts it in place as @p verdict (in the words of @p text)
    /// and ejects the tape when asked. Returns @p code, or the code of what went wrong.
    int end(RunRecord::Verdict verdict, const QString &text, int code);

    /// The run failed: says @p message, keeps what was read and records why. Returns @p code.
    int fail(int code, const QString &message);

    /// A signal stopped the run: keeps what was read, says so, ends by the signal.
    [[noreturn]] void interrupted();

private:
    const Options &m_options;
    ImagingRun m_run;
    ProgressLine m_progress;
};
