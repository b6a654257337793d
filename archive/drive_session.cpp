#include "archive/drive_session.h"

#include "archive/notices.h"
#include "imaging/imaging_state.h"
#include "platform/posix/device_access.h"
#include "platform/tape_identity.h"
#include "platform/win32_tape.h"
#include "tape/imaging_driver.h"
#include "tape/run_and_wait.h"
#include "tape/tape_workers.h"

#include <QFile>

namespace DriveSession {

QString devicePath()
{
    return QFile::decodeName(QByteArray::fromStdString(TapeDevicePath("//./Tape0")));
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

bool open()
{
    ImagingState::tapeHandle = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ImagingState::driveOpen = ImagingState::tapeHandle != INVALID_HANDLE_VALUE;
    return ImagingState::driveOpen;
}

DWORD load()
{
    MyThread loader;
    runAndWait(loader);
    return ImagingState::loadStatus;
}

Archive::Failure connect()
{
    if (!open()) {
        const DWORD error = GetLastError();
        return Archive::fail(Archive::Failure::NoDrive,
            QStringLiteral("cannot open the tape drive %1: %2 (set TAPE to choose another)")
                .arg(devicePath(), openProblem(error)));
    }
    if (load() != NO_ERROR) {
        return Archive::fail(Archive::Failure::LoadFailed,
            QStringLiteral("the tape in %1 could not be loaded (4 tries, error %2)")
                .arg(devicePath())
                .arg(ImagingState::loadStatus));
    }
    return Archive::Failure::None;
}

Archive::Failure checkReady()
{
    const DWORD status = GetTapeStatus(ImagingState::tapeHandle);
    if (status == NO_ERROR)
        return Archive::Failure::None;
    if (status == ERROR_NO_MEDIA_IN_DRIVE) {
        return Archive::fail(Archive::Failure::NotReady,
            QStringLiteral("there is no tape in the drive %1").arg(devicePath()));
    }
    return Archive::fail(Archive::Failure::NotReady,
        QStringLiteral("the tape drive %1 is not ready (error %2)").arg(devicePath()).arg(status));
}

Archive::Failure prepareMedia(unsigned driveBlockSize)
{
    // Without media figures the engine images up to the end of data all the same;
    // the user only learns that the free-space check had nothing to go on.
    if (!Imaging::queryMedia()) {
        Archive::say(QStringLiteral("the tape drive %1 did not report the size of the recorded "
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
        Archive::say(
            QStringLiteral("the tape drive %1 refused a block size of %2 bytes (error %3); "
                           "reading with the block size it had")
                .arg(devicePath())
                .arg(driveBlockSize)
                .arg(GetLastError()));
    }
    return Archive::Failure::None;
}

void describe(RunRecord::Record &record)
{
    TapeIdentity identity;
    QueryTapeIdentity(ImagingState::tapeHandle, identity);
    record.deviceKind = QString::fromStdString(identity.kind);
    record.vendor = QString::fromStdString(identity.vendor);
    record.product = QString::fromStdString(identity.product);
    record.revision = QString::fromStdString(identity.revision);
    record.serial = QString::fromStdString(identity.serial);
}

void eject()
{
    DWORD returned = 0;
    if (!DeviceIoControl(ImagingState::tapeHandle, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr,
            0, &returned, nullptr)) {
        Archive::say(QStringLiteral("the image is complete, but the tape could not be ejected "
                                    "(error %1)")
                         .arg(GetLastError()));
    }
}

} // namespace DriveSession
