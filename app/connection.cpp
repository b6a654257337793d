#include "app/korveltapedrive.h"

#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"
#include "tape/run_and_wait.h"
#include "tape/tape_workers.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

void KorvelTapeDrive::loadTapeDrive()
{
    ImagingState::busy = true;

    optionPageFrame->hide();
    connectPageFrame->show();
    connectedMovieLabel->show();
    connectingTitleLabel->show();
    connectingHintLabel->show();
    notConnectedLabel->hide();
    tapeDriveTitleLabel->hide();
    disconnectedLabel->hide();
    powerHintLabel->hide();
    retryBtn->hide();
    // Paint the connecting state before the open, which may take a while.
    QCoreApplication::processEvents();

    ImagingState::tapeHandle = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (ImagingState::tapeHandle == INVALID_HANDLE_VALUE) {
        ImagingState::driveOpen = false;
        notConnectedLabel->show();
        disconnectedLabel->show();
        powerHintLabel->show();
        retryBtn->show();
        connectedMovieLabel->hide();
        tapeDriveTitleLabel->hide();
        connectingHintLabel->hide();
        QCoreApplication::processEvents();
    } else {
        ImagingState::driveOpen = true;
    }

    {
        MyThread loader;
        runAndWait(loader);
    }

    ImagingState::busy = false;

    if (ImagingState::loadStatus == 0 && ImagingState::driveOpen) {
        optionPageFrame->hide();
        connectPageFrame->hide();
        destinationPageFrame->show();
    }
}

void KorvelTapeDrive::Retry()
{
    // After a failed open there is no handle; closing it then fails harmlessly.
    CloseHandle(ImagingState::tapeHandle);
    loadTapeDrive();
}
