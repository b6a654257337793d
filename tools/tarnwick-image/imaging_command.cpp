#include "tools/tarnwick-image/imaging_command.h"

#include "archive/observed_tape.h"
#include "archive/run_judge.h"
#include "archive/unattended_front_end.h"
#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"
#include "tape/imaging_driver.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/master_command.h"
#include "tools/tarnwick-image/run_session.h"

namespace {

int abandoned(RunSession &session, const Options &options, const UnattendedFrontEnd &frontEnd)
{
    const quint32 length = frontEnd.offendingLength();
    if (length > quint32(options.blockSizeText.toInt())) {
        return session.fail(ExitCode::Refused,
            QStringLiteral("the tape has a block of %1 bytes, longer than the block size %2: "
                           "choose a block size of at least %1, or auto")
                .arg(length)
                .arg(options.blockSizeText));
    }
    return session.fail(ExitCode::Declined,
        QStringLiteral("the tape has a block of %1 bytes, shorter than the block size %2: "
                       "give --yes to pad every block with zeros to %2 bytes, or choose a "
                       "smaller block size or auto")
            .arg(length)
            .arg(options.blockSizeText));
}

int failed(RunSession &session, Imaging::RunOutcome outcome, const Options &options,
    const UnattendedFrontEnd &frontEnd)
{
    const QString name = Console::shown(session.target().path());
    switch (outcome) {
    case Imaging::RunOutcome::Abandoned:
        return abandoned(session, options, frontEnd);
    case Imaging::RunOutcome::PositionUnknown:
        return session.fail(ExitCode::PositionUnknown,
            QStringLiteral("the tape drive did not report its position, so the number of "
                           "blocks is unknown"));
    case Imaging::RunOutcome::FileNotCreated:
        return session.fail(ExitCode::CannotCreate, QStringLiteral("cannot create %1").arg(name));
    case Imaging::RunOutcome::WriteFailed:
        break;
    case Imaging::RunOutcome::Completed:
        return ExitCode::Complete;
    }
    return session.fail(ExitCode::WriteFailed,
        session.target().writeFailure(QStringLiteral(" (is the disk full?)")));
}

int judge(RunSession &session, HANDLE drive)
{
    // The engine's count leaves one out; the position it spaced to is the end of data.
    const quint64 endOfData = ImagingState::blockCount + 1;
    session.record().endOfData = qint64(endOfData);
    const Judgement judgement = RunJudge::withDamage(
        drive, session.log().objects(), RunJudge::engineRun(session.log(), drive, endOfData));
    return session.end(judgement.verdict, judgement.text, ExitCode::ofVerdict(judgement.verdict));
}

} // namespace

int runImaging(const Options &options)
{
    if (options.format == Options::Format::Tap)
        return runMaster(options);
    RunSession session(options);
    if (const int code = session.begin())
        return code;

    ImagingState::blockSizeText = options.blockSizeText;
    // The engine writes into the very file claimed, whatever bytes its name holds.
    ImagingState::imagePath = session.target().openName();
    const HANDLE drive = ImagingState::tapeHandle;
    ImagingState::tapeHandle = ObservedTape::wrap(drive, session.log());
    ImagingState::busy = true;
    ImagingState::runFlag = true;
    UnattendedFrontEnd frontEnd(options.yes, [&session](const Imaging::BlockStep &step) {
        session.progress().update(quint64(step.progressValue),
            step.percentKnown ? ImagingState::blockCount : 0, session.log().recordBytes(),
            session.log().fileNumber());
    });
    const Imaging::RunOutcome outcome = Imaging::createImage(frontEnd);
    ImagingState::runFlag = false;
    ImagingState::busy = false;
    CloseHandle(ImagingState::tapeHandle);
    ImagingState::tapeHandle = drive;
    session.record().answer = frontEnd.answer();

    if (frontEnd.stopped()) {
        session.target().cutTrailer();
        session.interrupted();
    }
    if (outcome != Imaging::RunOutcome::Completed)
        return failed(session, outcome, options, frontEnd);
    return judge(session, drive);
}
