#pragma once
// Reaches the main window's private widgets, flags and slots for the tests.
#include "app/korveltapedrive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#define TARNWICK_WIDGET(Type, name)                                                                \
    static Type *name(KorvelTapeDrive &w)                                                          \
    {                                                                                              \
        return w.name;                                                                             \
    }
#define TARNWICK_FLAG(Type, name)                                                                  \
    static Type &name(KorvelTapeDrive &w)                                                          \
    {                                                                                              \
        return w.name;                                                                             \
    }

class KorvelTapeDriveTestAccess
{
public:
    /// Scale factor for windows built from now on; 0 asks the screen again.
    static void forceScale(float scale) { KorvelTapeDrive::m_forcedScaleFactor = scale; }

    static void layout(KorvelTapeDrive &w) { w.layoutWidgets(); }
    static void tick(KorvelTapeDrive &w) { w.OnToolBarTimerSlot(); }

    /// Every label that shows an image, in the order of the widget tree.
    static QList<QLabel *> pictureLabels(KorvelTapeDrive &w)
    {
        return { w.titleLogoLabel, w.menuSeparatorLabel, w.logoLabel, w.notConnectedLabel,
            w.bottomBorderLabel, w.topBorderLabel, w.leftBorderLabel, w.rightBorderLabel,
            w.dividerLabel, w.progressDriveLabel, w.selectedDriveLabel };
    }

    TARNWICK_WIDGET(QFrame, titleBarFrame)
    TARNWICK_WIDGET(QFrame, menuBarFrame)
    TARNWICK_WIDGET(QFrame, connectPageFrame)
    TARNWICK_WIDGET(QFrame, optionPageFrame)
    TARNWICK_WIDGET(QFrame, destinationPageFrame)
    TARNWICK_WIDGET(QFrame, progressPageFrame)
    TARNWICK_WIDGET(QFrame, loadPageFrame)
    TARNWICK_WIDGET(QFrame, selectedImagePageFrame)
    TARNWICK_WIDGET(QPushButton, closeBtn)
    TARNWICK_WIDGET(QPushButton, minimizeBtn)
    TARNWICK_WIDGET(QLabel, titleLabel)
    TARNWICK_WIDGET(QPushButton, menuBtn)
    TARNWICK_WIDGET(QLabel, menuSeparatorLabel)
    TARNWICK_WIDGET(QPushButton, helpBtn)
    TARNWICK_WIDGET(QPushButton, backBtn)
    TARNWICK_WIDGET(QPushButton, aboutBtn)
    TARNWICK_WIDGET(QPushButton, homeBtn)
    TARNWICK_WIDGET(QLabel, connectedMovieLabel)
    TARNWICK_WIDGET(QLabel, notConnectedLabel)
    TARNWICK_WIDGET(QLabel, bottomBorderLabel)
    TARNWICK_WIDGET(QLabel, rightBorderLabel)
    TARNWICK_WIDGET(QLabel, dividerLabel)
    TARNWICK_WIDGET(QPushButton, retryBtn)
    TARNWICK_WIDGET(QPushButton, createImageBtn)
    TARNWICK_WIDGET(QPushButton, loadImageBtn)
    TARNWICK_WIDGET(QLabel, createHintLabel)
    TARNWICK_WIDGET(QPushButton, optionNextBtn)
    TARNWICK_WIDGET(QPushButton, browseDestinationBtn)
    TARNWICK_WIDGET(QTextEdit, destinationPathEdit)
    TARNWICK_WIDGET(QCheckBox, turnOffCheckBox)
    TARNWICK_WIDGET(QCheckBox, ejectCheckBox)
    TARNWICK_WIDGET(QPushButton, createBtn)
    TARNWICK_WIDGET(QLabel, recommendedLabel)
    TARNWICK_WIDGET(QLabel, savingAtLabel)
    TARNWICK_WIDGET(QLabel, destinationHintLabel)
    TARNWICK_WIDGET(QLabel, scanCreatedHintLabel)
    TARNWICK_WIDGET(QLabel, completedLabel)
    TARNWICK_WIDGET(QLabel, imagePathInfoLabel)
    TARNWICK_WIDGET(QLabel, imageSizeInfoLabel)
    TARNWICK_WIDGET(QLabel, selectedImagePathLabel)
    TARNWICK_WIDGET(QTextEdit, loadPathEdit)
    TARNWICK_WIDGET(QMovie, connectedMovie)
    TARNWICK_WIDGET(QTimer, toolBarTimer)

    TARNWICK_FLAG(bool, backShown)
    TARNWICK_FLAG(bool, menuOnlyHelpAbout)
    TARNWICK_FLAG(bool, homeShown)
    TARNWICK_FLAG(bool, homeAndBackShown)
    TARNWICK_FLAG(bool, imageCreatedShown)
    TARNWICK_FLAG(bool, titleDragging)
};

#undef TARNWICK_WIDGET
#undef TARNWICK_FLAG
