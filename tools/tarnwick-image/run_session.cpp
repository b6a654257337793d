#include "tools/tarnwick-image/run_session.h"

#include "archive/drive_session.h"
#include "platform/posix/stop_signals.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QCoreApplication>

namespace {

ImagingRun::Settings runSettings(const Options &options)
{
    ImagingRun::Settings settings;
    settings.target.output = options.output;
    settings.target.folder = options.folder;
    settings.target.tapName = options.format == Options::Format::Tap;
    settings.target.force = options.force;
    settings.target.sync = options.sync;
    settings.tap = options.format == Options::Format::Tap;
    settings.blockSizeText = options.blockSizeText;
    settings.driveBlockSize = options.driveBlockSize;
    settings.checksum = options.checksum;
    settings.program = QStringLiteral("tarnwick-image");
    settings.version = QCoreApplication::applicationVersion();
    settings.operatorFields = options.operatorFields;
    settings.labelPhoto = options.labelPhoto;
    return settings;
}

} // namespace

RunSession::RunSession(const Options &options)
    : m_options(options)
    , m_run(runSettings(options))
    , m_progress(Console::stderrIsTerminal())
{
}

int RunSession::begin()
{
    if (const int code = ExitCode::of(m_run.claim()))
        return code;
    const int code = ExitCode::of(m_run.prepareDrive());
    if (StopSignals::received())
        interrupted();
    if (code != ExitCode::Complete) {
        m_run.keepWhatWasRead();
        return code;
    }
    m_run.start();
    return ExitCode::Complete;
}

int RunSession::end(RunRecord::Verdict verdict, const QString &text, int code)
{
    m_progress.finish(verdict == RunRecord::Verdict::Complete);
    if (const int placing = ExitCode::of(m_run.finish(verdict, text)))
        return placing;
    if (m_run.target().placed())
        Console::outPath(m_run.target().path());
    if (m_options.eject)
        DriveSession::eject();
    return code;
}

int RunSession::fail(int code, const QString &message)
{
    m_progress.clear();
    return Console::fail(code, m_run.abandon(message));
}

void RunSession::interrupted()
{
    const int signal = StopSignals::received();
    fail(0, m_run.stoppedBy(signal));
    StopSignals::endBy(signal);
}
