#include "app/korveltapedrive.h"

#include "common/app_globals.h"
#include "common/scale_set.h"
#include "imaging/imaging_state.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

namespace {

enum class TileChoice { Create, Load };

/// Which menu-bar items the current page adds to Help and About.
enum class MenuMode { Plain, Back, Home, BackAndHome };

/// One item of the menu animation: shown when the rounded progress reaches
/// `opensAt` while opening, hidden when it reaches `closesAt` while closing.
struct MenuStep
{
    int item; ///< index into the item list of OnToolBarTimerSlot
    float opensAt;
    float closesAt;
};

struct MenuScript
{
    MenuStep steps[5];
    int count;
    float stopAt;
};

enum MenuItem { BackItem, HomeItem, SeparatorItem, HelpItem, AboutItem };

// Opening shows the items left to right two ticks apart; closing hides them
// right to left, ending with the leftmost, so the bar folds towards the menu button.
const MenuScript kPlainScript
    = { { { SeparatorItem, 0.1f, 0.5f }, { HelpItem, 0.2f, 0.4f }, { AboutItem, 0.3f, 0.3f } }, 3,
          0.6f };
const MenuScript kBackScript = { { { BackItem, 0.1f, 0.6f }, { SeparatorItem, 0.2f, 0.5f },
                                     { HelpItem, 0.3f, 0.4f }, { AboutItem, 0.4f, 0.3f } },
    4, 0.7f };
const MenuScript kHomeScript = { { { HomeItem, 0.1f, 0.6f }, { SeparatorItem, 0.2f, 0.5f },
                                     { HelpItem, 0.3f, 0.4f }, { AboutItem, 0.4f, 0.3f } },
    4, 0.7f };
const MenuScript kBackAndHomeScript
    = { { { BackItem, 0.1f, 0.7f }, { HomeItem, 0.2f, 0.6f }, { SeparatorItem, 0.3f, 0.5f },
            { HelpItem, 0.4f, 0.4f }, { AboutItem, 0.5f, 0.3f } },
          5, 0.8f };

const MenuScript &scriptFor(MenuMode mode)
{
    switch (mode) {
    case MenuMode::Back:
        return kBackScript;
    case MenuMode::Home:
        return kHomeScript;
    case MenuMode::BackAndHome:
        return kBackAndHomeScript;
    case MenuMode::Plain:
        break;
    }
    return kPlainScript;
}

const char kCreateHint[] = QT_TRANSLATE_NOOP("KorvelTapeDrive",
    "Select this option to create a new image of the tape drive. This image can later be used to "
    "\nrecover data.");
const char kLoadHint[] = QT_TRANSLATE_NOOP("KorvelTapeDrive",
    "Load an already existing image of the tape drive to scan and recover data from it.");
// The option page shown again by Back or Home has its own, slightly different wording.
const char kCreateHintAgain[] = QT_TRANSLATE_NOOP("KorvelTapeDrive",
    "Select this option to create a new image of the tape drive.This image can later be used to "
    "\nrecover data.");

/// Restyles both tiles so the chosen one is highlighted and sets the hint
/// below them. Without an image set only the hint changes.
void showTileChoice(QPushButton *createTile, QPushButton *loadTile, QLabel *hint, TileChoice choice,
    const char *hintText)
{
    const QString folder = scaleSetFolder();
    if (!folder.isEmpty()) {
        const QString style = QStringLiteral("QPushButton{border-image: url(%1%2)}");
        const bool create = choice == TileChoice::Create;
        createTile->setStyleSheet(style.arg(folder,
            create ? QLatin1String("img_CreateImageH.png")
                   : QLatin1String("img_CreateImageN.png")));
        loadTile->setStyleSheet(style.arg(folder,
            create ? QLatin1String("img_EraseImageN.png") : QLatin1String("img_EraseImageH.png")));
    }
    hint->setText(KorvelTapeDrive::tr(hintText));
    hint->setFont(QFont(QStringLiteral("Segoe UI"), 10));
}

} // namespace

void KorvelTapeDrive::getTapeDetails()
{
    showTileChoice(createImageBtn, loadImageBtn, createHintLabel, TileChoice::Create, kCreateHint);
    createOptionSelected = true;
    loadOptionSelected = false;
}

void KorvelTapeDrive::loadImage()
{
    showTileChoice(createImageBtn, loadImageBtn, createHintLabel, TileChoice::Load, kLoadHint);
    createOptionSelected = false;
    loadOptionSelected = true;
}

void KorvelTapeDrive::MainFrameTnext()
{
    homeBtn->hide();
    if (loadOptionSelected) {
        loadedImagePath.clear();
        loadOptionSelected = false;
        backShown = true;
        layoutWidgets();
        loadPageFrame->show(); // covers the option page
        backBtn->show();
        if (!menuBtn->isChecked()) {
            homeBtn->hide();
            backBtn->hide();
        }
        return;
    }

    // The create road is the default, also when no tile was clicked.
    ImagingState::imagePath.clear();
    createOptionSelected = false;
    if (!ImagingState::driveOpen)
        loadTapeDrive(); // ends on the destination page or the disconnected state

    backShown = true;
    layoutWidgets();
    backBtn->show();
    optionPageFrame->hide();
    if (ImagingState::driveOpen)
        destinationPageFrame->show();
    if (!menuBtn->isChecked()) {
        homeBtn->hide();
        backBtn->hide();
    }
    ImagingState::ejectFlag = ejectCheckBox->checkState() != Qt::Unchecked;
    ImagingState::turnOffFlag = turnOffCheckBox->checkState() != Qt::Unchecked;
    fillBlockSizeList();
}

void KorvelTapeDrive::backButton()
{
    homeAndBackShown = false;
    layoutWidgets();
    // Only the boxes: the image path and the loaded image path keep their values.
    destinationPathEdit->clear();
    loadPathEdit->clear();

    if (selectedImageMark) {
        homeBtn->hide();
        selectedImageMark = false;
        selectedImagePageFrame->hide();
        loadPageFrame->show();
        return;
    }

    showTileChoice(
        createImageBtn, loadImageBtn, createHintLabel, TileChoice::Create, kCreateHintAgain);
    backShown = false;
    backBtn->hide();
    layoutWidgets();
    destinationPageFrame->hide();
    optionPageFrame->show(); // covers a connection page that was left shown
    loadPageFrame->hide();
    homeBtn->hide();
}

void KorvelTapeDrive::HomeButton()
{
    homeAndBackShown = false;
    imageCreatedShown = false;
    destinationPathEdit->clear();
    loadPathEdit->clear();
    // Home also forgets the selected image, so that the next Back on the load
    // page goes to the option page as its Back button promises.
    selectedImageMark = false;

    menuOnlyHelpAbout = true;
    layoutWidgets();
    for (QWidget *widget : std::initializer_list<QWidget *> { progressPageFrame, homeBtn,
             connectPageFrame, loadPageFrame, destinationPageFrame, selectedImagePageFrame })
        widget->hide();
    optionPageFrame->show();
    backShown = false;
    menuOnlyHelpAbout = false;
    backBtn->hide();

    // The drive stays open: the next create road goes straight to the destination page.
    showTileChoice(
        createImageBtn, loadImageBtn, createHintLabel, TileChoice::Create, kCreateHintAgain);
}

void KorvelTapeDrive::ejectcheckBoxChanged(int)
{
    ImagingState::ejectFlag = ejectCheckBox->checkState() != Qt::Unchecked;
}

void KorvelTapeDrive::turnOffcheckBoxChanged(int)
{
    ImagingState::turnOffFlag = turnOffCheckBox->checkState() != Qt::Unchecked;
}

void KorvelTapeDrive::OnToolBarTimerSlot()
{
    // An abandoned run leaves backShown false on the destination page it returns to, yet that
    // page's bar has Back in its first place: the abort flag brings Back into the animation
    // there. Only there: the option page has no place for Back, and it would cover Help.
    const bool backAfterAbandonedRun = ImagingState::abortFlag && !destinationPageFrame->isHidden()
        && progressPageFrame->isHidden() && loadPageFrame->isHidden()
        && selectedImagePageFrame->isHidden();
    MenuMode mode = MenuMode::Back;
    if (!backShown && !imageCreatedShown && !backAfterAbandonedRun)
        mode = MenuMode::Plain;
    else if (imageCreatedShown)
        mode = MenuMode::Home;
    else if (homeAndBackShown)
        mode = MenuMode::BackAndHome;

    animationProgress += toolBarStep;
    const float progress = roundedToSixDigits(animationProgress);

    QWidget *const items[] = { backBtn, homeBtn, menuSeparatorLabel, helpBtn, aboutBtn };
    const MenuScript &script = scriptFor(mode);
    const bool opening = menuBtn->isChecked();
    for (int i = 0; i < script.count; ++i) {
        const MenuStep &step = script.steps[i];
        if (progress == (opening ? step.opensAt : step.closesAt)) {
            items[step.item]->setVisible(opening);
            break;
        }
    }

    if (animationProgress >= script.stopAt)
        toolBarTimer->stop();
}
