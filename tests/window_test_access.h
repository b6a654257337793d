#pragma once
// Reaches the main window's private widgets, flags and slots for the tests.
#include "app/korveltapedrive.h"
#include "imaging/imaging_state.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>

// A reference to the member, so flags can be set through it as well.
#define TARNWICK_MEMBER(name)                                                                      \
    static decltype(auto) name(KorvelTapeDrive &w)                                                 \
    {                                                                                              \
        return (w.name);                                                                           \
    }

class KorvelTapeDriveTestAccess
{
public:
    /// Scale factor for windows built from now on; 0 asks the screen again.
    static void forceScale(float scale) { KorvelTapeDrive::m_forcedScaleFactor = scale; }

    static void layout(KorvelTapeDrive &w) { w.layoutWidgets(); }
    static void tick(KorvelTapeDrive &w) { w.OnToolBarTimerSlot(); }
    static void loadTapeDrive(KorvelTapeDrive &w) { w.loadTapeDrive(); }
    static void retry(KorvelTapeDrive &w) { w.Retry(); }
    /// What a run given up at the block-size question does to the pages.
    static void abandonRun(KorvelTapeDrive &w)
    {
        w.prepareProgressPage();
        ImagingState::abortFlag = true;
        w.returnToDestinationPage();
    }

    /// A path box shows one whole line: all of its path, or the end of a longer one.
    static bool showsThePathsEnd(QTextEdit *box)
    {
        box->document()->documentLayout()->documentSize(); // lays out what is pending
        QTextCursor end(box->document());
        end.movePosition(QTextCursor::End);
        const QRect shown = box->viewport()->rect();
        const bool whole = box->horizontalScrollBar()->maximum() == 0;
        return box->document()->firstBlock().layout()->lineCount() == 1
            && shown.contains(box->cursorRect(end))
            && shown.contains(box->cursorRect(QTextCursor(box->document()))) == whole;
    }

    /// Every label that shows an image, in the order of the widget tree.
    static QList<QLabel *> pictureLabels(KorvelTapeDrive &w)
    {
        return { w.titleLogoLabel, w.menuSeparatorLabel, w.logoLabel, w.notConnectedLabel,
            w.bottomBorderLabel, w.topBorderLabel, w.leftBorderLabel, w.rightBorderLabel,
            w.dividerLabel, w.progressDriveLabel, w.selectedDriveLabel };
    }

    /// The connection page's widgets that the connection sequence shows or hides.
    static QMap<QString, QWidget *> connectionWidgets(KorvelTapeDrive &w)
    {
        return { { QStringLiteral("movie"), w.connectedMovieLabel },
            { QStringLiteral("connectingTitle"), w.connectingTitleLabel },
            { QStringLiteral("connectingHint"), w.connectingHintLabel },
            { QStringLiteral("notConnected"), w.notConnectedLabel },
            { QStringLiteral("tapeDriveTitle"), w.tapeDriveTitleLabel },
            { QStringLiteral("disconnected"), w.disconnectedLabel },
            { QStringLiteral("powerHint"), w.powerHintLabel },
            { QStringLiteral("retry"), w.retryBtn } };
    }

    /// The one page a user sees: the topmost shown page frame.
    static QString visiblePage(KorvelTapeDrive &w)
    {
        const QList<QPair<const char *, QFrame *>> pagesTopFirst
            = { { "selected", w.selectedImagePageFrame }, { "load", w.loadPageFrame },
                  { "progress", w.progressPageFrame }, { "destination", w.destinationPageFrame },
                  { "option", w.optionPageFrame }, { "connect", w.connectPageFrame } };
        for (const auto &page : pagesTopFirst) {
            if (!page.second->isHidden())
                return QLatin1String(page.first);
        }
        return QStringLiteral("none");
    }

    TARNWICK_MEMBER(titleBarFrame)
    TARNWICK_MEMBER(menuBarFrame)
    TARNWICK_MEMBER(connectPageFrame)
    TARNWICK_MEMBER(optionPageFrame)
    TARNWICK_MEMBER(destinationPageFrame)
    TARNWICK_MEMBER(progressPageFrame)
    TARNWICK_MEMBER(loadPageFrame)
    TARNWICK_MEMBER(selectedImagePageFrame)
    TARNWICK_MEMBER(closeBtn)
    TARNWICK_MEMBER(menuBtn)
    TARNWICK_MEMBER(menuSeparatorLabel)
    TARNWICK_MEMBER(helpBtn)
    TARNWICK_MEMBER(backBtn)
    TARNWICK_MEMBER(aboutBtn)
    TARNWICK_MEMBER(homeBtn)
    TARNWICK_MEMBER(notConnectedLabel)
    TARNWICK_MEMBER(bottomBorderLabel)
    TARNWICK_MEMBER(rightBorderLabel)
    TARNWICK_MEMBER(dividerLabel)
    TARNWICK_MEMBER(retryBtn)
    TARNWICK_MEMBER(createImageBtn)
    TARNWICK_MEMBER(loadImageBtn)
    TARNWICK_MEMBER(createHintLabel)
    TARNWICK_MEMBER(optionNextBtn)
    TARNWICK_MEMBER(browseDestinationBtn)
    TARNWICK_MEMBER(destinationPathEdit)
    TARNWICK_MEMBER(blockSizeCombo)
    TARNWICK_MEMBER(turnOffCheckBox)
    TARNWICK_MEMBER(ejectCheckBox)
    TARNWICK_MEMBER(createBtn)
    TARNWICK_MEMBER(recommendedLabel)
    TARNWICK_MEMBER(creatingTitleLabel)
    TARNWICK_MEMBER(scanCreatedBtn)
    TARNWICK_MEMBER(scanCreatedHintLabel)
    TARNWICK_MEMBER(completedLabel)
    TARNWICK_MEMBER(imagePathInfoLabel)
    TARNWICK_MEMBER(imageSizeInfoLabel)
    TARNWICK_MEMBER(loadPathEdit)
    TARNWICK_MEMBER(selectedImagePathLabel)
    TARNWICK_MEMBER(selectedImageSizeLabel)
    TARNWICK_MEMBER(connectedMovie)
    TARNWICK_MEMBER(toolBarTimer)

    TARNWICK_MEMBER(backShown)
    TARNWICK_MEMBER(menuOnlyHelpAbout)
    TARNWICK_MEMBER(homeShown)
    TARNWICK_MEMBER(homeAndBackShown)
    TARNWICK_MEMBER(imageCreatedShown)
    TARNWICK_MEMBER(titleDragging)
};
using A = KorvelTapeDriveTestAccess;

#undef TARNWICK_MEMBER
