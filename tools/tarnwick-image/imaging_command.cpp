#include "tools/tarnwick-image/imaging_command.h"

#include "imaging/image_file.h"
#include "imaging/imaging_driver.h"
#include "imaging/imaging_state.h"
#include "platform/posix/native_file.h"
#include "platform/win32_tape.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/master_command.h"
#include "tools/tarnwick-image/observed_tape.h"
#include "tools/tarnwick-image/run_session.h"
#include "tools/tarnwick-image/terminal_front_end.h"

#include <QFile>

#include <vector>

namespace {

using RunRecord::Verdict;

int abandoned(RunSession &session, const Options &options, const TerminalFrontEnd &frontEnd)
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
    const TerminalFrontEnd &frontEnd)
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
    const qint64 limit = NativeFile::fileSizeLimit();
    const bool atLimit = limit >= 0 && NativeFile::size(session.target().fd()) >= limit;
    return session.fail(ExitCode::WriteFailed,
        atLimit ? QStringLiteral("writing %1 failed: the file reached the size limit of %2 "
                                 "bytes (ulimit -f)")
                      .arg(name)
                      .arg(limit)
                : QStringLiteral("writing %1 failed (is the disk full?)").arg(name));
}

/// Reads on from where the engine stopped, at most @p objects blocks and marks: whether a
/// block follows before the end of data (tape marks alone carry nothing).
bool dataFollows(HANDLE drive, quint64 objects)
{
    std::vector<unsigned char> buffer(ImagingState::kReadLength);
    for (quint64 i = 0; i < objects; ++i) {
        DWORD got = 0;
        const DWORD error = ReadFile(drive, buffer.data(), ImagingState::kReadLength, &got, nullptr)
            ? NO_ERROR
            : GetLastError();
        if (error == ERROR_NO_DATA_DETECTED || error == ERROR_END_OF_MEDIA)
            return false;
        if (error != ERROR_FILEMARK_DETECTED)
            return true;
    }
    return false;
}

/// A name of the claimed file for code that opens files by name: the open file itself where
/// the system offers that, else the partial file's name.
QString claimedFile(const ImageTarget &target)
{
    const QByteArray name = NativeFile::nameOf(target.fd());
    return name.isEmpty() ? QFile::decodeName(target.partialPath()) : QString::fromLatin1(name);
}

/// The trailer the engine writes when its run flag is cleared does not end a whole image.
void cutTrailer(const ImageTarget &target)
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(claimedFile(target));
    if (trailer.valid)
        NativeFile::truncate(target.fd(), trailer.bodyLength);
}

int judge(RunSession &session, HANDLE drive)
{
    const TapeLog &log = session.log();
    // The engine's count leaves one out; the position it spaced to is the end of data.
    const quint64 endOfData = ImagingState::blockCount + 1;
    session.record().endOfData = qint64(endOfData);
    const quint64 read = log.objects();
    if (read < endOfData && dataFollows(drive, endOfData - read)) {
        return session.end(Verdict::StopsShort,
            QStringLiteral("the image ends after block %1 of %2 blocks and marks; the rest of "
                           "the tape is not in it")
                .arg(read)
                .arg(endOfData),
            ExitCode::StopsShort);
    }
    const QString whole = QStringLiteral("every block to the end of data is in the image (%1 "
                                         "blocks and marks)")
                              .arg(endOfData);
    if (log.damageCount() > 0)
        return session.end(
            Verdict::Damaged, whole + QStringLiteral(", ") + log.damage(), ExitCode::Damaged);
    return session.end(Verdict::Complete, whole, ExitCode::Complete);
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
    ImagingState::imagePath = claimedFile(session.target());
    const HANDLE drive = ImagingState::tapeHandle;
    ImagingState::tapeHandle = ObservedTape::wrap(drive, session.log());
    ImagingState::busy = true;
    ImagingState::runFlag = true;
    TerminalFrontEnd frontEnd(options.yes, session.progress(), session.log());
    const Imaging::RunOutcome outcome = Imaging::createImage(frontEnd);
    ImagingState::runFlag = false;
    ImagingState::busy = false;
    CloseHandle(ImagingState::tapeHandle);
    ImagingState::tapeHandle = drive;
    session.record().answer = frontEnd.answer();

    if (frontEnd.stopped()) {
        cutTrailer(session.target());
        session.interrupted();
    }
    if (outcome != Imaging::RunOutcome::Completed)
        return failed(session, outcome, options, frontEnd);
    return judge(session, drive);
}
