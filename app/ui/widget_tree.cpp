#include "app/korveltapedrive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

// Creation order is stacking order among siblings, so the order below matters.
void KorvelTapeDrive::createWidgets()
{
    titleBarFrame = new QFrame(this);
    menuBarFrame = new QFrame(this);
    connectPageFrame = new QFrame(this);
    optionPageFrame = new QFrame(this);
    destinationPageFrame = new QFrame(this);
    progressPageFrame = new QFrame(this);
    loadPageFrame = new QFrame(this);
    selectedImagePageFrame = new QFrame(this);

    closeBtn = new QPushButton(titleBarFrame);
    maximizeBtn = new QPushButton(titleBarFrame);
    minimizeBtn = new QPushButton(titleBarFrame);
    titleLabel = new QLabel(titleBarFrame);
    titleLogoLabel = new QLabel(titleBarFrame);

    menuBtn = new QPushButton(menuBarFrame);
    menuSeparatorLabel = new QLabel(menuBarFrame);
    helpBtn = new QPushButton(menuBarFrame);
    backBtn = new QPushButton(menuBarFrame);
    logoLabel = new QLabel(menuBarFrame);
    aboutBtn = new QPushButton(menuBarFrame);
    homeBtn = new QPushButton(menuBarFrame);

    tapeDriveTitleLabel = new QLabel(connectPageFrame);
    connectedMovieLabel = new QLabel(connectPageFrame);
    notConnectedLabel = new QLabel(connectPageFrame);
    connectingHintLabel = new QLabel(connectPageFrame);
    connectingTitleLabel = new QLabel(connectPageFrame);
    disconnectedLabel = new QLabel(connectPageFrame);
    powerHintLabel = new QLabel(connectPageFrame);

    bottomBorderLabel = new QLabel(this);
    topBorderLabel = new QLabel(this);
    leftBorderLabel = new QLabel(this);
    rightBorderLabel = new QLabel(this);
    dividerLabel = new QLabel(this);

    retryBtn = new QPushButton(connectPageFrame);

    selectOptionLabel = new QLabel(optionPageFrame);
    createImageBtn = new QPushButton(optionPageFrame);
    loadImageBtn = new QPushButton(optionPageFrame);
    optionHintLabel = new QLabel(optionPageFrame);
    createHintLabel = new QLabel(optionPageFrame);
    optionNextBtn = new QPushButton(optionPageFrame);

    browseDestinationBtn = new QPushButton(destinationPageFrame);
    destinationPathEdit = new QTextEdit(destinationPageFrame);
    destinationTitleLabel = new QLabel(destinationPageFrame);
    blockSizeCombo = new QComboBox(destinationPageFrame);
    blockSizeLabel = new QLabel(destinationPageFrame);
    turnOffCheckBox = new QCheckBox(
        QStringLiteral("Turn-Off Computer after the image creation is complete"), destinationPageFrame);
    ejectCheckBox = new QCheckBox(QStringLiteral("Eject Tape after image completion"),
                                  destinationPageFrame);
    createBtn = new QPushButton(destinationPageFrame);
    destinationHintLabel = new QLabel(destinationPageFrame);
    recommendedLabel = new QLabel(destinationPageFrame);

    creatingTitleLabel = new QLabel(progressPageFrame);
    savingAtLabel = new QLabel(progressPageFrame);
    pleaseWaitLabel = new QLabel(progressPageFrame);
    imagingProgressBar = new QProgressBar(progressPageFrame);
    savingPathLabel = new QLabel(progressPageFrame);
    progressDriveLabel = new QLabel(progressPageFrame);
    scanCreatedBtn = new QPushButton(progressPageFrame);
    percentLabel = new QLabel(progressPageFrame);
    scanCreatedHintLabel = new QLabel(progressPageFrame);
    completedLabel = new QLabel(progressPageFrame);
    imagePathInfoLabel = new QLabel(progressPageFrame);
    imageSizeInfoLabel = new QLabel(progressPageFrame);
    stopBtn = new QPushButton(progressPageFrame);

    loadPathEdit = new QTextEdit(loadPageFrame);
    browseImageBtn = new QPushButton(loadPageFrame);
    loadNextBtn = new QPushButton(loadPageFrame);
    loadHintLabel = new QLabel(loadPageFrame);
    selectImageTitleLabel = new QLabel(loadPageFrame);

    selectedImageTitleLabel = new QLabel(selectedImagePageFrame);
    selectedImageHintLabel = new QLabel(selectedImagePageFrame);
    scanBtn = new QPushButton(selectedImagePageFrame);
    selectedDriveLabel = new QLabel(selectedImagePageFrame);
    selectedImagePathLabel = new QLabel(selectedImagePageFrame);
    selectedImageSizeLabel = new QLabel(selectedImagePageFrame);
}
