#include "app/korveltapedrive.h"

#include "archive/drive_session.h"
#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"

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

    if (!DriveSession::open()) {
        notConnectedLabel->show();
        disconnectedLabel->show();
        powerHintLabel->show();
        retryBtn->show();
        connectedMovieLabel->hide();
        tapeDriveTitleLabel->hide();
        connectingHintLabel->hide();
        QCoreApplication::processEvents();
    }

    // A drive that did not open fails the load at once; the window waits for it all the same.
    DriveSession::load();

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
