#include "tools/tarnwick-image/master_command.h"

#include "archive/drive_witness.h"
#include "archive/master_reader.h"
#include "imaging/imaging_state.h"
#include "platform/posix/native_file.h"
#include "platform/posix/stop_signals.h"
#include "platform/win32_tape.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/run_session.h"

#include <QFile>

namespace {

using Master::Stop;

void showProgress(RunSession &session, qint64 endOfData)
{
    const TapeLog &log = session.log();
    const qint64 recorded = ImagingState::totalBytes;
    if (recorded > 0)
        session.progress().update(
            log.recordBytes(), quint64(recorded), log.recordBytes(), log.fileNumber());
    else
        session.progress().update(log.objects(), endOfData > 0 ? quint64(endOfData) : 0,
            log.recordBytes(), log.fileNumber());
}

int writeFailed(RunSession &session, int error)
{
    return session.fail(ExitCode::WriteFailed,
        session.target().writeFailure(QStringLiteral(": ") + NativeFile::errorText(error)));
}

Master::AfterFailure advice(DriveWitness::Advice advice)
{
    switch (advice) {
    case DriveWitness::Advice::PassOn:
        return Master::AfterFailure::PassOn;
    case DriveWitness::Advice::StopRun:
        return Master::AfterFailure::StopRun;
    case DriveWitness::Advice::ReadAgain:
        break;
    }
    return Master::AfterFailure::ReadAgain;
}

Judgement stoppedByDrive(const TapeLog &log, const QString &why)
{
    return { RunRecord::Verdict::StopsShort,
        QStringLiteral("%1; the master ends after block %2 with what was read, and the rest of "
                       "the tape is not in it")
            .arg(why)
            .arg(log.objects()) };
}

} // namespace

int runMaster(const Options &given)
{
    // A cartridge whose memory gives its barcode names its master in the folder.
    Options options = given;
    const QString barcode = options.folder.isEmpty() ? QString() : DriveWitness::barcodeInDrive();
    if (!barcode.isEmpty()) {
        QByteArray folder = options.folder;
        while (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
        options.output = folder + '/'
            + QFile::encodeName(DriveWitness::masterName(barcode, QDateTime::currentDateTime()));
        options.folder.clear();
    }
    RunSession session(options);
    if (const int code = session.begin())
        return code;
    const HANDLE drive = ImagingState::tapeHandle;
    const qint64 end = Master::findEndOfData(drive);
    session.record().endOfData = end;
    if (end < 0) {
        Console::say(QStringLiteral("the drive did not report where its data ends; reading up "
                                    "to two tape marks in a row"));
    }
    if (SetTapePosition(drive, TAPE_ABSOLUTE_BLOCK, 0, 0, 0, FALSE) != NO_ERROR) {
        return session.fail(ExitCode::PositionUnknown,
            QStringLiteral("the drive could not rewind the tape (error %1)").arg(GetLastError()));
    }
    Master::TapSink sink(session.target().fd());
    if (!sink.start())
        return session.fail(ExitCode::WriteFailed, QStringLiteral("not enough memory for the run"));
    Master::Reader reader(
        drive, sink, session.log(), options.retries, [] { return StopSignals::received(); },
        [&session, end] { showProgress(session, end); });
    DriveWitness witness(drive, options.keepRetrying);
    reader.setFailureHook([&witness](DWORD error, quint64 block) {
        return advice(witness.afterFailedRead(error, block));
    });
    const bool cleanFirst = witness.beforeRun() == DriveWitness::Advice::StopRun;
    const Stop stop = cleanFirst ? Stop::DriveAsked : reader.run(end);
    witness.atEnd();
    session.record().drive = witness.json();
    const bool written = sink.finish();
    if (stop == Stop::Interrupted)
        session.interrupted();
    if (!written || stop == Stop::WriteFailed)
        return writeFailed(session, sink.writeError());
    const Judgement judgement = stop == Stop::DriveAsked
        ? stoppedByDrive(session.log(), witness.stopText())
        : Master::judge(session.log(), stop, end, reader.driveError());
    return session.end(judgement.verdict, judgement.text, ExitCode::ofVerdict(judgement.verdict));
}
