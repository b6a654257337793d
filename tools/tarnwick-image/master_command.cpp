#include "tools/tarnwick-image/master_command.h"

#include "archive/drive_witness.h"
#include "archive/rescue_picture.h"
#include "archive/rescue_reader.h"
#include "imaging/imaging_state.h"
#include "platform/posix/native_file.h"
#include "platform/posix/stop_signals.h"
#include "platform/tap/tap_format.h"
#include "platform/win32_tape.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/run_session.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Rescue::Stop;

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

void recordPasses(RunSession &session, const Rescue::Reader &reader)
{
    for (const Rescue::PassFigures &f : reader.passes()) {
        RunRecord::Pass pass;
        pass.number = f.number;
        pass.started = f.started;
        pass.ended = f.ended;
        pass.tried = qint64(f.tried);
        pass.good = qint64(f.good);
        pass.failed = qint64(f.failed);
        pass.resumedAt = f.resumedAt;
        pass.earlierCounted = f.earlierCounted;
        session.record().passes.append(pass);
    }
    session.record().map = reader.map().summary();
}

/// Writes the master in tape order when the passes appended records out of it; false
/// with errno set when that failed.
bool intoTapeOrder(RunSession &session, const Rescue::Map &map)
{
    if (map.inTapeOrder())
        return true;
    const QByteArray partial = session.target().partialPath();
    const QByteArray ordered = partial + ".ordered";
    NativeFile::removeFile(ordered);
    const int fd
        = ::open(ordered.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    const int from = ::open(partial.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    Rescue::Map placed;
    bool done
        = fd >= 0 && from >= 0 && Rescue::assemble(from, map, fd, placed) && ::fdatasync(fd) == 0;
    const int saved = errno;
    if (from >= 0)
        ::close(from);
    if (done) {
        placed.partialTail = Rescue::tailChecksum(fd, placed.partialBytes);
        done = NativeFile::rename(ordered, partial, true) && placed.save(Rescue::mapPath(partial));
    }
    if (!done) {
        if (fd >= 0)
            ::close(fd);
        NativeFile::removeFile(ordered);
        errno = saved;
        return false;
    }
    session.run().replaceImage(fd);
    return true;
}

Rescue::AfterFailure advice(DriveWitness::Advice advice)
{
    switch (advice) {
    case DriveWitness::Advice::PassOn:
        return Rescue::AfterFailure::PassOn;
    case DriveWitness::Advice::StopRun:
        return Rescue::AfterFailure::StopRun;
    case DriveWitness::Advice::ReadAgain:
        break;
    }
    return Rescue::AfterFailure::ReadAgain;
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
    const qint64 end = Rescue::findEndOfData(drive);
    session.record().endOfData = end;
    if (end < 0) {
        Console::say(QStringLiteral("the drive did not report where its data ends; reading up "
                                    "to two tape marks in a row"));
    }
    // The drive's own word on every failed read: its sense, TapeAlert, whether to go on.
    DriveWitness witness(drive, options.keepRetrying);
    Rescue::Reader::Settings settings;
    settings.afterFailure = [&witness](DWORD error, std::uint64_t position) {
        return advice(witness.afterFailedRead(error, position));
    };
    settings.retries = options.retries;
    settings.passes = options.passes;
    settings.bufferBytes = options.bufferBytes;
    settings.endOfData = end;
    settings.partialPath = session.target().partialPath();
    settings.mapPath = Rescue::mapPath(settings.partialPath);
    settings.stopRequested = [] { return StopSignals::received(); };
    settings.progress = [&session, end] { showProgress(session, end); };
    // What an earlier run left on record goes on with its rescue (see Reader::start()).
    const RunRecord::Record &earlier = session.run().earlierRecord();
    settings.earlierProblems = earlier.problems;
    settings.earlierStart = earlier.started;
    for (const RunRecord::Pass &pass : earlier.passes) {
        if (pass.number == 1 && pass.started.isValid())
            settings.earlierStart = pass.started; // it went on with a run before it
    }
    Rescue::Reader reader(
        drive, session.target().fd(), session.run().rescueMap(), session.log(), settings);
    if (!reader.start()) {
        return session.fail(ExitCode::WriteFailed,
            QStringLiteral("not enough memory for the run, or its map cannot be written"));
    }
    const bool cleanFirst = witness.beforeRun() == DriveWitness::Advice::StopRun;
    const Stop stop = cleanFirst ? Stop::DriveAsked : reader.run();
    witness.atEnd();
    session.record().drive = witness.json();
    const bool written = reader.finish();
    recordPasses(session, reader);
    session.record().bufferBytes = qint64(options.bufferBytes);
    session.record().readerWaits = qint64(reader.readerWaits());
    session.record().readerWaitSeconds = reader.readerWaitSeconds();
    if (stop == Stop::Interrupted)
        session.interrupted();
    if (!written || stop == Stop::WriteFailed)
        return writeFailed(session, reader.writeError());
    QString why = reader.problem();
    if (stop == Stop::DriveFailed)
        why = QStringLiteral("the drive failed (error %1)").arg(reader.driveError());
    if (stop == Stop::DriveAsked)
        why = witness.stopText();
    const Rescue::Map &map = reader.map();
    const Judgement judgement = RunJudge::withDamage(drive,
        map.runs().isEmpty() ? 0 : map.runs().last().end(), Rescue::judge(map, stop, end, why));
    if (!intoTapeOrder(session, reader.map()))
        return writeFailed(session, errno);
    if (reader.endOfMedium()) {
        unsigned char word[4];
        TapFormat::putWord(word, TapFormat::kEndOfMedium);
        if (::write(session.target().fd(), word, sizeof word) != sizeof word)
            return writeFailed(session, errno);
    }
    if (session.run().resumed() || !reader.logComplete())
        session.run().describeImageAs(reader.map().summary());
    const int code
        = session.end(judgement.verdict, judgement.text, ExitCode::ofVerdict(judgement.verdict));
    if (session.target().placed()) {
        const QByteArray image = session.target().path();
        NativeFile::rename(
            Rescue::mapPath(session.target().partialPath()), Rescue::mapPath(image), true);
        // The map as a picture beside it, so the damage can be seen at a glance.
        QString error;
        if (!Rescue::writePicture(
                reader.map(), Console::shown(image), Rescue::mapPath(image) + ".svg", error))
            Console::say(QStringLiteral("the map's picture was not written: %1").arg(error));
        NativeFile::syncFolderOf(image);
    }
    return code;
}
