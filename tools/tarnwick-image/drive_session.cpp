#include "tools/tarnwick-image/drive_session.h"

#include "imaging/imaging_driver.h"
#include "imaging/imaging_state.h"
#include "platform/posix/device_access.h"
#include "platform/win32_tape.h"
#include "tape/run_and_wait.h"
#include "tape/tape_workers.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

namespace DriveSession {

QString devicePath()
{
    const QString tape = qEnvironmentVariable("TAPE");
    return tape.isEmpty() ? QStringLiteral("/dev/nst0") : tape;
}

namespace {

QString openProblem(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("no such drive or file");
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("the drive is in use by another program");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("access denied") + deviceAccessHint(devicePath());
    default:
        return QStringLiteral("error %1").arg(error);
    }
}

} // namespace

int connect()
{
    ImagingState::tapeHandle = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ImagingState::driveOpen = ImagingState::tapeHandle != INVALID_HANDLE_VALUE;
    if (!ImagingState::driveOpen) {
        const DWORD error = GetLastError();
        return Console::fail(ExitCode::NoDrive,
            QStringLiteral("cannot open the tape drive %1: %2 (set TAPE to choose another)")
                .arg(devicePath(), openProblem(error)));
    }
    {
        MyThread loader;
        runAndWait(loader);
    }
    if (ImagingState::loadStatus != NO_ERROR) {
        return Console::fail(ExitCode::LoadFailed,
            QStringLiteral("the tape in %1 could not be loaded (4 tries, error %2)")
                .arg(devicePath())
                .arg(ImagingState::loadStatus));
    }
    return ExitCode::Complete;
}

int checkReady()
{
    const DWORD status = GetTapeStatus(ImagingState::tapeHandle);
    if (status == NO_ERROR)
        return ExitCode::Complete;
    if (status == ERROR_NO_MEDIA_IN_DRIVE) {
        return Console::fail(ExitCode::NotReady,
            QStringLiteral("there is no tape in the drive %1").arg(devicePath()));
    }
    return Console::fail(ExitCode::NotReady,
        QStringLiteral("the tape drive %1 is not ready (error %2)").arg(devicePath()).arg(status));
}

int prepareMedia(unsigned driveBlockSize)
{
    // Without media figures the engine images up to the end of data all the same;
    // the user only learns that the free-space check had nothing to go on.
    if (!Imaging::queryMedia()) {
        Console::say(QStringLiteral("the tape drive %1 did not report the size of the recorded "
                                    "data (error %2); imaging up to the end of data")
                         .arg(devicePath())
                         .arg(GetLastError()));
    }

    TAPE_SET_MEDIA_PARAMETERS blockSize {};
    // The record length is the engine's business; the drive reads variable blocks
    // unless --drive-block-size asks for fixed ones.
    blockSize.BlockSize = driveBlockSize;
    if (SetTapeParameters(ImagingState::tapeHandle, SET_TAPE_MEDIA_INFORMATION, &blockSize)
            != NO_ERROR
        && driveBlockSize != 0) {
        Console::say(QStringLiteral("the tape drive %1 refused a block size of %2 bytes (error %3); "
                                    "reading with the block size it had")
                         .arg(devicePath())
                         .arg(driveBlockSize)
                         .arg(GetLastError()));
    }
    return ExitCode::Complete;
}

void eject()
{
    DWORD returned = 0;
    if (!DeviceIoControl(ImagingState::tapeHandle, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr,
            0, &returned, nullptr)) {
        Console::say(QStringLiteral("the image is complete, but the tape could not be ejected "
                                    "(error %1)")
                         .arg(GetLastError()));
    }
}

} // namespace DriveSession
