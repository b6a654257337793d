#include "tools/tarnwick-image/imaging_command.h"

#include "imaging/image_file.h"
#include "imaging/imaging_driver.h"
#include "imaging/imaging_state.h"
#include "imaging/size_text.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/drive_session.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/image_target.h"
#include "tools/tarnwick-image/terminal_front_end.h"

#include <QFileInfo>

namespace {

/// What is left of a failed run's file, for the end of a message.
QString leftBehind(const ImageTarget &target)
{
    return target.tidyAfterFailure()
        ? QStringLiteral("; %1 keeps what was written so far, but it is not a complete image")
              .arg(target.path())
        : QStringLiteral("; no image file was left");
}

int abandoned(const Options &options, const TerminalFrontEnd &frontEnd, const ImageTarget &target)
{
    const quint32 length = frontEnd.offendingLength();
    if (length > quint32(options.blockSizeText.toInt())) {
        return Console::fail(ExitCode::Refused,
            QStringLiteral("the tape has a block of %1 bytes, longer than the block size %2: "
                           "choose a block size of at least %1, or auto%3")
                .arg(length)
                .arg(options.blockSizeText, leftBehind(target)));
    }
    return Console::fail(ExitCode::Declined,
        QStringLiteral("the tape has a block of %1 bytes, shorter than the block size %2: "
                       "give --yes to pad every block with zeros to %2 bytes, or choose a "
                       "smaller block size or auto%3")
            .arg(length)
            .arg(options.blockSizeText, leftBehind(target)));
}

int failed(Imaging::RunOutcome outcome, const Options &options, const TerminalFrontEnd &frontEnd,
    const ImageTarget &target)
{
    switch (outcome) {
    case Imaging::RunOutcome::Abandoned:
        return abandoned(options, frontEnd, target);
    case Imaging::RunOutcome::PositionUnknown:
        return Console::fail(ExitCode::PositionUnknown,
            QStringLiteral("the tape drive did not report its position, so the number of "
                           "blocks is unknown%1")
                .arg(leftBehind(target)));
    case Imaging::RunOutcome::FileNotCreated:
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot create %1%2").arg(target.path(), leftBehind(target)));
    case Imaging::RunOutcome::WriteFailed:
        return Console::fail(ExitCode::WriteFailed,
            QStringLiteral("writing %1 failed (is the disk full?)%2")
                .arg(target.path(), leftBehind(target)));
    case Imaging::RunOutcome::Completed:
        break;
    }
    return ExitCode::Complete;
}

/// The drive from open to block size, and the volume; an exit code.
int prepare(const Options &options, const ImageTarget &target)
{
    if (const int code = DriveSession::connect())
        return code;
    if (const int code = DriveSession::checkReady())
        return code;
    if (const int code = DriveSession::prepareMedia(options.driveBlockSize))
        return code;
    return target.checkSpace(ImagingState::totalBytes);
}

void reportComplete(const ImageTarget &target)
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(target.path());
    Console::say(QStringLiteral("image complete: %1 records, block size %2, %3")
                     .arg(trailer.recordCount)
                     .arg(trailer.blockSize)
                     .arg(SizeText::amount(QFileInfo(target.path()).size())));
    Console::out(target.path() + QLatin1Char('\n'));
}

} // namespace

int runImaging(const Options &options)
{
    ImageTarget target(options);
    if (const int code = target.claim())
        return code;
    if (const int code = prepare(options, target)) {
        target.tidyAfterFailure();
        return code;
    }

    ImagingState::blockSizeText = options.blockSizeText;
    ImagingState::imagePath = target.path();
    ImagingState::busy = true;
    ImagingState::runFlag = true;
    TerminalFrontEnd frontEnd(options.yes, Console::stderrIsTerminal());
    const Imaging::RunOutcome outcome = Imaging::createImage(frontEnd);
    ImagingState::runFlag = false;
    ImagingState::busy = false;
    frontEnd.finish(outcome == Imaging::RunOutcome::Completed);

    if (outcome != Imaging::RunOutcome::Completed)
        return failed(outcome, options, frontEnd, target);
    reportComplete(target);
    if (options.eject)
        DriveSession::eject();
    return ExitCode::Complete;
}
