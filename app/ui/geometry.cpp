#include "app/korveltapedrive.h"

#include "common/app_globals.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

namespace {

/// A widget's place in base units (100 %), relative to its parent.
struct Placement
{
    QWidget *widget;
    int x, y, w, h;
};

// Base values of the 100 % layout; everything is scaled when it is applied.
constexpr int kWindowWidth = 850;
constexpr int kWindowHeight = 600;
constexpr int kMenuItemY = 10;
constexpr int kMenuItemSize = 20;
constexpr int kMenuFirstSlot = 56;
constexpr int kMenuSlotStep = 30;

/// Geometry, fixed size and a final move, so the widget ends exactly at
/// (x, y) with its minimum and maximum size both (w, h).
void place(QWidget *widget, int x, int y, int w, int h)
{
    widget->setGeometry(x, y, w, h);
    widget->setFixedSize(w, h);
    widget->move(x, y);
}

void placeScaled(const Placement &p)
{
    place(p.widget, scaled(p.x), scaled(p.y), scaled(p.w), scaled(p.h));
}

/// The last pixel row or column of the window at 1.0, 1.25 and 1.5, computed
/// in double precision from half a unit before the edge.
int edgeLine(double baseHalfUnit)
{
    return static_cast<int>(baseHalfUnit * static_cast<double>(scaleFactor));
}

} // namespace

void KorvelTapeDrive::layoutWidgets()
{
    setFixedSize(scaled(kWindowWidth), scaled(kWindowHeight));

    const Placement table[] = {
        // Bars and pages, children of the window.
        { titleBarFrame, 0, 0, 850, 30 },
        { menuBarFrame, 0, 30, 850, 40 },
        { connectPageFrame, 0, 70, 850, 530 },
        { optionPageFrame, 0, 70, 850, 530 },
        { destinationPageFrame, 0, 70, 850, 530 },
        { progressPageFrame, 0, 70, 850, 530 },
        { loadPageFrame, 0, 70, 850, 530 },
        { selectedImagePageFrame, 0, 70, 850, 530 },
        // Title bar.
        { closeBtn, 805, 2, 43, 27 },
        { maximizeBtn, 760, 2, 43, 27 },
        { minimizeBtn, 715, 2, 43, 27 },
        { titleLogoLabel, 315, 5, 16, 24 },
        { titleLabel, 340, 5, 270, 24 },
        // Menu bar, except the packed navigation items.
        { menuBtn, 15, 10, 20, 20 },
        { menuSeparatorLabel, 45, 10, 1, 20 },
        { logoLabel, 760, 5, 72, 26 },
        // Lines over the whole window; the divider lies across the page area.
        { dividerLabel, 0, 530, 878, 1 },
        { topBorderLabel, 0, 0, 1167, 1 },
        { leftBorderLabel, 0, 0, 1, 620 },
        // Connection page.
        { tapeDriveTitleLabel, 365, 15, 250, 50 },
        { connectingTitleLabel, 335, 15, 600, 50 },
        { connectedMovieLabel, 350, 122, 145, 139 },
        { notConnectedLabel, 365, 122, 104, 195 },
        { connectingHintLabel, 305, 270, 400, 30 },
        { disconnectedLabel, 340, 288, 325, 20 },
        { powerHintLabel, 300, 310, 600, 50 },
        { retryBtn, 710, 480, 117, 32 },
        // Option page.
        { selectOptionLabel, 365, 15, 250, 50 },
        { optionHintLabel, 190, 75, 850, 30 },
        { createImageBtn, 175, 130, 240, 240 },
        { loadImageBtn, 426, 130, 240, 240 },
        { createHintLabel, 175, 380, 850, 40 },
        { optionNextBtn, 710, 480, 117, 32 },
        // Destination page.
        { destinationTitleLabel, 325, 15, 250, 50 },
        { destinationHintLabel, 120, 135, 850, 30 },
        { destinationPathEdit, 120, 170, 450, 30 },
        { browseDestinationBtn, 600, 170, 117, 32 },
        { blockSizeLabel, 120, 273, 75, 22 },
        { blockSizeCombo, 200, 270, 90, 22 },
        { recommendedLabel, 292, 269, 125, 22 },
        { ejectCheckBox, 120, 330, 250, 22 },
        { turnOffCheckBox, 120, 351, 370, 25 },
        { createBtn, 710, 480, 117, 32 },
        // Progress page (stopBtn deliberately has no place).
        { creatingTitleLabel, 360, 35, 270, 50 },
        { progressDriveLabel, 380, 130, 128, 128 },
        { pleaseWaitLabel, 150, 150, 370, 50 },
        { savingAtLabel, 150, 258, 350, 30 },
        { savingPathLabel, 320, 258, 390, 30 },
        { imagePathInfoLabel, 30, 265, 790, 30 },
        { imagingProgressBar, 150, 290, 565, 20 },
        { imageSizeInfoLabel, 30, 310, 790, 30 },
        { completedLabel, 150, 315, 70, 15 },
        { percentLabel, 225, 315, 50, 16 },
        { scanCreatedHintLabel, 280, 350, 850, 40 },
        { scanCreatedBtn, 710, 480, 117, 32 },
        // Load page.
        { selectImageTitleLabel, 365, 45, 850, 30 },
        { loadHintLabel, 120, 190, 450, 30 },
        { loadPathEdit, 120, 230, 450, 30 },
        { browseImageBtn, 600, 230, 117, 32 },
        { loadNextBtn, 710, 480, 117, 32 },
        // Selected-image page.
        { selectedImageTitleLabel, 360, 35, 250, 50 },
        { selectedDriveLabel, 380, 122, 128, 156 },
        { selectedImagePathLabel, 30, 265, 790, 30 },
        { selectedImageSizeLabel, 30, 310, 790, 30 },
        { selectedImageHintLabel, 280, 350, 850, 40 },
        { scanBtn, 710, 480, 117, 32 },
    };
    for (const Placement &p : table)
        placeScaled(p);

    // Scaling 600 or 850 and subtracting one would miss the last pixel at 1.25.
    place(bottomBorderLabel, 0, edgeLine(599.5), scaled(1167), scaled(1));
    place(rightBorderLabel, edgeLine(849.5), 0, scaled(1), scaled(620));

    packMenuBar();
}

void KorvelTapeDrive::packMenuBar()
{
    // Slots from the left in the order Back, Home, Help, About. The flags,
    // not the buttons' visibility, decide; a later rule overrides an earlier
    // one, and a button no rule places keeps its last place.
    enum { Back, Home, Help, About, ItemCount };
    int slot[ItemCount] = { -1, -1, -1, -1 };
    const auto pack = [&slot](std::initializer_list<int> order) {
        int next = 0;
        for (int item : order)
            slot[item] = next++;
    };
    if (homeAndBackShown)
        pack({ Back, Home, Help, About });
    else if (backShown)
        pack({ Back, Help, About });
    else
        pack({ Help, About });
    if (menuOnlyHelpAbout)
        pack({ Help, About });
    if (homeShown)
        pack({ Home, Help, About });

    QPushButton *const items[ItemCount] = { backBtn, homeBtn, helpBtn, aboutBtn };
    for (int i = 0; i < ItemCount; ++i) {
        if (slot[i] < 0)
            continue;
        placeScaled({ items[i], kMenuFirstSlot + slot[i] * kMenuSlotStep, kMenuItemY, kMenuItemSize,
            kMenuItemSize });
    }
}
