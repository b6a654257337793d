#include "tools/tarnwick-image/run_session.h"

#include "archive/drive_session.h"
#include "imaging/imaging_state.h"
#include "imaging/size_text.h"
#include "platform/posix/native_file.h"
#include "platform/posix/stop_signals.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>

namespace {

constexpr int kProblemsShown = 20; ///< the rest are in the run record

QString signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

ImageTarget::Settings targetSettings(const Options &options)
{
    ImageTarget::Settings settings;
    settings.output = options.output;
    settings.folder = options.folder;
    settings.tapName = options.format == Options::Format::Tap;
    settings.force = options.force;
    settings.sync = options.sync;
    return settings;
}

} // namespace

RunSession::RunSession(const Options &options)
    : m_options(options)
    , m_target(targetSettings(options))
    , m_progress(Console::stderrIsTerminal())
    , m_keeper(
          m_record, m_log, [this] { return m_target.currentPath(); },
          [this] { return m_target.fd(); })
{
    // What was read is on record as the run goes, should it never get to write its own.
    m_log.setWatcher([this](bool mark) { m_keeper.logged(mark); });
    m_record.program = QStringLiteral("tarnwick-image");
    m_record.version = QCoreApplication::applicationVersion();
    m_record.format = options.format == Options::Format::Tap ? RunRecord::ImageFormat::Tap
                                                             : RunRecord::ImageFormat::Tape;
    m_record.blockSize = options.format == Options::Format::Tap
        ? QStringLiteral("each block at its own length")
        : options.blockSizeText;
    m_record.devicePath = DriveSession::devicePath();
}

int RunSession::prepare()
{
    if (const int code = ExitCode::of(DriveSession::connect()))
        return code;
    if (const int code = ExitCode::of(DriveSession::checkReady()))
        return code;
    if (const int code = ExitCode::of(DriveSession::prepareMedia(m_options.driveBlockSize)))
        return code;
    return ExitCode::of(m_target.checkSpace(ImagingState::totalBytes));
}

int RunSession::begin()
{
    m_record.started = QDateTime::currentDateTime();
    if (const int code = ExitCode::of(m_target.claim()))
        return code;
    const int code = prepare();
    if (StopSignals::received())
        interrupted();
    if (code != ExitCode::Complete) {
        m_target.keepWhatWasRead();
        return code;
    }
    DriveSession::describe(m_record);
    if (m_options.checksum && !m_hasher.start(m_target.fd()))
        Console::say(
            QStringLiteral("the checksum cannot be computed: the image cannot be read back"));
    return ExitCode::Complete;
}

void RunSession::writeRecord(RunRecord::Verdict verdict, const QString &text, const QString &sha256)
{
    m_record.ended = QDateTime::currentDateTime();
    m_log.fill(m_record);
    m_record.bytesWritten = NativeFile::size(m_target.fd());
    m_record.verdict = verdict;
    m_record.verdictText = text;
    m_record.sha256 = sha256;
    const QByteArray image = m_target.currentPath();
    if (!RunRecord::writeBeside(image, m_record)) {
        Console::say(QStringLiteral("the run record %1 could not be written: %2")
                         .arg(Console::shown(RunRecord::recordPath(image)),
                             NativeFile::errorText(NativeFile::lastError())));
    }
    m_keeper.finish(RunRecord::recordPath(image));
    if (!m_target.placed() || sha256.isEmpty())
        return;
    if (!RunRecord::writeChecksumBeside(image, sha256)) {
        Console::say(QStringLiteral("the checksum file %1 could not be written: %2")
                         .arg(Console::shown(RunRecord::checksumPath(image)),
                             NativeFile::errorText(NativeFile::lastError())));
    }
}

void RunSession::reportProblems()
{
    const QVector<RunRecord::Problem> &problems = m_log.problems();
    for (int i = 0; i < problems.size() && i < kProblemsShown; ++i)
        Console::say(problems[i].text);
    if (problems.size() > kProblemsShown) {
        Console::say(QStringLiteral("and %1 more blocks; the run record lists them all")
                         .arg(problems.size() - kProblemsShown));
    }
}

int RunSession::end(RunRecord::Verdict verdict, const QString &text, int code)
{
    m_progress.finish(verdict == RunRecord::Verdict::Complete);
    const qint64 size = NativeFile::size(m_target.fd());
    const QString sha256 = m_hasher.finish(size);
    if (const int placing = ExitCode::of(m_target.place(verdict == RunRecord::Verdict::Complete))) {
        if (m_target.keepWhatWasRead())
            writeRecord(RunRecord::Verdict::Unfinished,
                QStringLiteral("the run read the tape, "
                               "but the image could not be put in place"),
                QString());
        else
            m_keeper.finish(QByteArray());
        return placing;
    }
    writeRecord(verdict, text, sha256);
    reportProblems();
    const QString details = m_log.summary() + QStringLiteral(", ")
        + SizeText::amount(size).remove(QStringLiteral(" in disk"));
    if (verdict == RunRecord::Verdict::Complete)
        Console::say(QStringLiteral("image complete: ") + details);
    else
        Console::say(text + QStringLiteral(" (") + details + QLatin1Char(')'));
    if (m_target.placed())
        Console::outPath(m_target.path());
    if (m_options.eject)
        DriveSession::eject();
    return code;
}

int RunSession::fail(int code, const QString &message)
{
    m_progress.clear();
    m_hasher.finish(-1);
    if (!m_target.keepWhatWasRead()) {
        m_keeper.finish(QByteArray());
        return Console::fail(code, message + QStringLiteral("; no image file was left"));
    }
    writeRecord(RunRecord::Verdict::Unfinished, message, QString());
    reportProblems();
    return Console::fail(code,
        message
            + QStringLiteral("; %1 keeps what was read so far, but it is not a complete image")
                  .arg(Console::shown(m_target.partialPath())));
}

void RunSession::interrupted()
{
    const int signal = StopSignals::received();
    const QString stopped = QStringLiteral("stopped by %1 after block %2")
                                .arg(signalName(signal))
                                .arg(m_log.objects());
    fail(0, stopped);
    StopSignals::endBy(signal);
}
