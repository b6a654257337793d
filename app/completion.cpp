#include "app/korveltapedrive.h"

#include "imaging/imaging_state.h"
#include "imaging/size_text.h"
#include "platform/win32_process.h"
#include "platform/win32_tape.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

void KorvelTapeDrive::imageCompleted()
{
    if (menuBtn->isChecked()) {
        homeBtn->show();
    } else {
        homeBtn->hide();
        QCoreApplication::processEvents();
    }
    homeShown = true;
    imageCreatedShown = true;
    layoutWidgets();
    ImagingState::runFlag = false;

    savingAtLabel->hide();
    savingPathLabel->hide();
    pleaseWaitLabel->hide();
    imagingProgressBar->hide();
    percentLabel->hide();
    completedLabel->hide();
    progressDriveLabel->show();
    scanCreatedBtn->show();
    scanCreatedHintLabel->show();
    creatingTitleLabel->setText(tr("Image Created"));
    creatingTitleLabel->setFont(QFont(QStringLiteral("Segoe UI"), 16));

    const QString pathText = QStringLiteral("Image Path: ") + ImagingState::imagePath;
    imagePathInfoLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    imagePathInfoLabel->setAlignment(Qt::AlignCenter);
    imagePathInfoLabel->setText(imagePathInfoLabel->fontMetrics().elidedText(
        pathText, Qt::ElideMiddle, imagePathInfoLabel->width()));
    imagePathInfoLabel->setToolTip(pathText);
    imagePathInfoLabel->show();

    imageSizeInfoLabel->setText(SizeText::imageSize(ImagingState::totalBytes));
    imageSizeInfoLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    imageSizeInfoLabel->setAlignment(Qt::AlignCenter);
    imageSizeInfoLabel->show();
    homeShown = false;

    // The tape comes out before the computer goes off; neither result is looked at.
    if (ImagingState::ejectFlag) {
        QCoreApplication::processEvents();
        DWORD returned = 0;
        DeviceIoControl(ImagingState::tapeHandle, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0,
            &returned, nullptr);
    }
    if (ImagingState::turnOffFlag) {
        QCoreApplication::processEvents();
        ShutdownComputer();
    }
}
