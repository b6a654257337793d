#include "app/korveltapedrive.h"

#include "common/app_globals.h"
#include "common/scale_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

namespace {

// Style sheets of the image sets. %1, %2, %3 are full resource paths or, where
// the sheet names one image several times, %1 is the set's folder.
const char kThreeStateStyle[]
    = "QPushButton{border-image: url(%1)}QPushButton:hover { border-image: url(%2)}"
      "QPushButton:pressed { border-image: url(%3);}";
const char kActionButtonStyle[]
    = "QPushButton{border-image: url(%1img_NextButton.png);color:#ffffff}"
      "QPushButton:hover { border-image: url(%1img_NextButton.png);color:#ffffff}"
      "QPushButton:pressed { border-image: url(%1img_NextButton.png);color:#ffffff}"
      "QPushButton:disabled { border-image: url(%1img_NextDisable.png);color:#ffffff}";
const char kStopButtonStyle[]
    = "QPushButton{border-image: url(%1img_Stop.png);color:#ffffff}"
      "QPushButton:hover { border-image: url(%1img_Stop.png);color:#ffffff}"
      "QPushButton:pressed { border-image: url(%1img_Stop.png);color:#ffffff}"
      "QPushButton:disabled { border-image: url(%1img_Stop.png);color:#ffffff}";
const char kCreateTileStyle[] = "QPushButton{border-image: url(%1img_CreateImageH.png)}"
                                "QPushButton:hover { border-image: url(%1img_CreateImageH.png)}";
const char kLoadTileStyle[] = "QPushButton{border-image: url(%1img_EraseImageN.png)}";
const char kBrowseStyle[] = "QPushButton{border-image: url(%1img_Browse.png)}";
const char kCheckBoxStyle[]
    = "QCheckBox::indicator:checked {image: url(%1img_SelectCheckBox.png);}"
      "QCheckBox::indicator:unchecked {image: url(%1img_UnSelectCheckBox.png);}";
const char kProgressBarStyle[]
    = "QProgressBar:horizontal{border: 1px solid gray; border-radius: 3px; background: "
      "white;padding: 1px;text-align:right;width: 3px;}QProgressBar::chunk:horizontal{"
      "background-color: rgb(30,144,255);border-radius: 8px;margin-right: px;width: 2px;}";

/// The images that are not named alike in every set.
struct SetSpellings
{
    int set;
    const char *helpPressed;
    const char *horizontalBorder; ///< top and bottom lines
    const char *verticalBorder; ///< left and right lines
};
const SetSpellings kSpellings[] = {
    { 100, "img_HelpDisabler.png", "test_1.png", "test_2.png" },
    { 125, "img_HelpDisable.png", "test_1.png", "Test_2.png" },
    { 150, "img_HelpDisable.png", "Test_1.png", "Test_2.png" },
};

struct ThreeStateButton
{
    QPushButton *button;
    const char *normal, *hover, *pressed; ///< pressed null: the set's Help spelling
};

struct FolderStyledButton
{
    QPushButton *button;
    const char *style;
};

struct Picture
{
    QLabel *label;
    const char *image;
};

/// One static text and font; text null means the font only.
struct TextRow
{
    QWidget *widget;
    const char *text;
    bool translate;
    int pointSize;
};

constexpr int kHeading = 16;
constexpr int kCaption = 12; // push-button captions
constexpr int kBody = 10;
// The path boxes have no font of their own, so they show the system's: 9-point "Segoe UI"
// where the layout was made. Named here, they get its stand-in like every other text.
constexpr int kSystem = 9;

QString inFolder(const QString &folder, const char *image)
{
    return folder + QLatin1String(image);
}

} // namespace

void KorvelTapeDrive::applyScaledStyles()
{
    const QString white = QStringLiteral("background-color:white");
    for (QFrame *frame : { titleBarFrame, connectPageFrame, optionPageFrame, destinationPageFrame,
             progressPageFrame, loadPageFrame, selectedImagePageFrame })
        frame->setStyleSheet(white);
    menuBarFrame->setStyleSheet(QStringLiteral("background-color:rgb(235,235,235)"));
    imagingProgressBar->setStyleSheet(QLatin1String(kProgressBarStyle));
    imagingProgressBar->setTextVisible(false); // percentLabel shows the number

    const int set = scaleSetFor(scaleFactor);
    if (set == 0)
        return; // below 100 %: no image set, the default Qt look stays
    const QString folder = scaleSetFolder();
    const SetSpellings &spelling = *std::find_if(std::begin(kSpellings), std::end(kSpellings),
        [set](const SetSpellings &s) { return s.set == set; });

    const ThreeStateButton threeStateButtons[] = {
        { closeBtn, "img_TitleClose.png", "img_TitleCloseHover.png", "img_TitleClosePressed.png" },
        { maximizeBtn, "img_TitleMaximize.png", "img_TitleMaximizeHover.png",
            "img_TitleMaximizePressed.png" },
        { minimizeBtn, "img_TitleMinimize.png", "img_TitleMinimizeHover.png",
            "img_TitleMinimizePressed.png" },
        { menuBtn, "img_MenuButton.png", "img_MenuButtonH.png", "img_MenuButtonP.png" },
        { helpBtn, "img_Help.png", "img_HelpHover.png", nullptr },
        { backBtn, "img_Back.png", "img_BackHover.png", "img_BackDisable.png" },
        { aboutBtn, "img_About.png", "img_AboutHover.png", "img_AboutDisable.png" },
        { homeBtn, "img_Home.png", "img_HomeHover.png", "img_HomeDisabled.png" },
    };

    const FolderStyledButton folderStyledButtons[] = {
        { retryBtn, kActionButtonStyle },
        { optionNextBtn, kActionButtonStyle },
        { loadNextBtn, kActionButtonStyle },
        { scanBtn, kActionButtonStyle },
        { createBtn, kActionButtonStyle },
        { scanCreatedBtn, kActionButtonStyle },
        { stopBtn, kStopButtonStyle },
        { createImageBtn, kCreateTileStyle },
        { loadImageBtn, kLoadTileStyle },
        { browseDestinationBtn, kBrowseStyle },
        { browseImageBtn, kBrowseStyle },
    };

    const Picture pictures[] = {
        { titleLogoLabel, "img_titleLogo.png" },
        { menuSeparatorLabel, "img_MenuSeperator.png" },
        { logoLabel, "img_CompanyLogo.png" },
        { progressDriveLabel, "Drive.png" },
        { selectedDriveLabel, "Drive.png" },
        { dividerLabel, "Devider.png" },
        { notConnectedLabel, "Not_connected.png" },
    };

    for (const ThreeStateButton &b : threeStateButtons) {
        const char *pressed = b.pressed ? b.pressed : spelling.helpPressed;
        b.button->setStyleSheet(QLatin1String(kThreeStateStyle)
                                    .arg(inFolder(folder, b.normal), inFolder(folder, b.hover),
                                        inFolder(folder, pressed)));
    }
    for (const FolderStyledButton &b : folderStyledButtons)
        b.button->setStyleSheet(QLatin1String(b.style).arg(folder));
    for (QCheckBox *box : { ejectCheckBox, turnOffCheckBox })
        box->setStyleSheet(QLatin1String(kCheckBoxStyle).arg(folder));

    for (const Picture &p : pictures)
        p.label->setPixmap(QPixmap(inFolder(folder, p.image)));
    for (QLabel *line : { topBorderLabel, bottomBorderLabel })
        line->setPixmap(QPixmap(inFolder(folder, spelling.horizontalBorder)));
    for (QLabel *line : { leftBorderLabel, rightBorderLabel })
        line->setPixmap(QPixmap(inFolder(folder, spelling.verticalBorder)));

    // Runs from construction on, whether or not the connection page shows.
    connectedMovie = new QMovie(inFolder(folder, "Connected.gif"));
    connectedMovieLabel->setMovie(connectedMovie);
    connectedMovie->start();
}

void KorvelTapeDrive::applyTexts()
{
    const TextRow rows[] = {
        { tapeDriveTitleLabel, QT_TR_NOOP("Tape Drive"), true, kHeading },
        { stopBtn, QT_TR_NOOP("Stop"), true, kCaption },
        { retryBtn, QT_TR_NOOP("Retry"), true, kCaption },
        { optionNextBtn, QT_TR_NOOP("Next"), true, kCaption },
        { loadNextBtn, QT_TR_NOOP("Next"), true, kCaption },
        { scanBtn, QT_TR_NOOP("Scan"), true, kCaption },
        { selectOptionLabel, QT_TR_NOOP("Select Option"), true, kHeading },
        { disconnectedLabel, QT_TR_NOOP("Tape drive disconnected."), true, kBody },
        { powerHintLabel, QT_TR_NOOP("Check the power connection and Retry."), true, kBody },
        { destinationTitleLabel, QT_TR_NOOP("Select Destination Path"), true, kHeading },
        { browseDestinationBtn, QT_TR_NOOP("Browse"), true, kCaption },
        { browseImageBtn, QT_TR_NOOP("Browse"), true, kCaption },
        { blockSizeLabel, QT_TR_NOOP("Block Size :"), true, kBody },
        { recommendedLabel, QT_TR_NOOP(" (Recommended)"), true, kBody },
        { createBtn, QT_TR_NOOP("Create"), true, kCaption },
        { creatingTitleLabel, QT_TR_NOOP("Creating Image"), true, kHeading },
        { savingAtLabel, QT_TR_NOOP("Saving the image of tape at: "), true, kBody },
        { pleaseWaitLabel,
            QT_TR_NOOP("Please wait while the image of selected tape is being created."), true,
            kBody },
        { completedLabel, QT_TR_NOOP("Completed:"), true, kBody },
        { scanCreatedBtn, QT_TR_NOOP("Scan"), true, kCaption },
        { optionHintLabel,
            QT_TR_NOOP("Create an image of your tape drive or load an already created image for "
                       "scanning."),
            true, kBody },
        { createHintLabel,
            QT_TR_NOOP("Select this option to create a new image of the tape drive. This image can "
                       "later be used to \nrecover data."),
            true, kBody },
        { destinationHintLabel,
            QT_TR_NOOP("Select the destination path where the tape drive image is to be saved. "),
            true, kBody },
        { loadHintLabel, "Select the tape Image that you want to load.", false, kBody },
        { selectImageTitleLabel, "Select Image", false, kHeading },
        { selectedImageTitleLabel, "Selected Image", false, kHeading },
        { selectedImageHintLabel, "Click 'Scan' if the details of the selected image are correct.",
            false, kBody },
        { scanCreatedHintLabel, "Click 'Scan' to proceed with scanning of created image.", false,
            kBody },
        { ejectCheckBox, nullptr, false, kBody }, // check-box texts come with their construction
        { turnOffCheckBox, nullptr, false, kBody },
        { blockSizeCombo, nullptr, false, kBody },
        { destinationPathEdit, nullptr, false, kSystem },
        { loadPathEdit, nullptr, false, kSystem },
        { connectingTitleLabel, QT_TR_NOOP("Connecting Drive"), true, kHeading },
        { connectingHintLabel, QT_TR_NOOP("Please wait while the tape is being connected.."), true,
            kBody },
    };

    titleLabel->setText(tr("Tarnwick"));
    titleLabel->setFont(QFont(QStringLiteral("Segoe UI Semibold"), kBody));
    const QString family = QStringLiteral("Segoe UI");
    for (const TextRow &row : rows) {
        row.widget->setFont(QFont(family, row.pointSize));
        if (!row.text)
            continue;
        const QString text = row.translate ? tr(row.text) : QString::fromLatin1(row.text);
        if (auto *label = qobject_cast<QLabel *>(row.widget))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(row.widget))
            button->setText(text);
    }
}
