#pragma once
/**
 * @file
 * KorvelTapeDrive: the only main window. A frameless, fixed-size window that
 * draws its own title and menu bars and shows one wizard page at a time by
 * showing and hiding page frames. Its implementation is split by concern:
 *   korveltapedrive.cpp   construction, initial state, connections, dragging, keys
 *   ui/widget_tree.cpp    createWidgets
 *   ui/geometry.cpp       layoutWidgets and the geometry tables
 *   ui/styles.cpp         applyScaledStyles, applyTexts and their tables
 *   navigation.cpp        option tiles, Next, Back, Home, check boxes, menu animation
 *   connection.cpp        loadTapeDrive, Retry
 *   close_request.cpp     CloseProcess, closeEvent
 *   destination.cpp       block size list and destination folder
 *   imaging_run.cpp       createImageNextBtnClick and the imaging run
 *   completion.cpp        the Image Created page
 *   scan/image_loading.cpp, scan/scanner_handoff.cpp  image loading, scanner hand-off
 *   about_help.cpp        onAbtDlg, helpOnline
 *   messages.cpp          showMessage (the one-button message dialog)
 */
#include "common/strip_drag.h"

#include <QMainWindow>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMovie;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;

class KorvelTapeDrive : public QMainWindow
{
    Q_OBJECT

public:
    explicit KorvelTapeDrive(QWidget *parent = nullptr);
    ~KorvelTapeDrive() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void showMinimzedWin();
    void loadTapeDrive();
    void Retry();
    void getTapeDetails();
    void browseImagePath();
    void browseImagePathLoad();
    void blockSizeChanged(const QString &text);
    void ejectcheckBoxChanged(int state);
    void turnOffcheckBoxChanged(int state);
    void createImageNextBtnClick();
    void CloseProcess();
    void backButton();
    void OnMenuProduct();
    void OnToolBarTimerSlot();
    void onAbtDlg();
    void helpOnline();
    void loadImage();
    void HomeButton();
    void scanImage();
    void Scanexe();
    void ScanexeCreate();
    void MainFrameTnext();

private:
    friend class KorvelTapeDriveTestAccess; // lets the tests reach the widget tree
    friend class CreateRunFrontEnd; // asks and shows progress during an imaging run

    void createWidgets();
    void layoutWidgets();
    void packMenuBar();
    void applyScaledStyles();
    void applyTexts();
    void setInitialState();
    void connectSignals();
    void detectScaleFactor();
    void fillBlockSizeList();
    void prepareProgressPage();
    void returnToDestinationPage();
    void imageCompleted();
    /// Runs the one-button message dialog modally with this title and message;
    /// @p logoX moves its title logo (base units) when not negative.
    void showMessage(const QString &title, const QString &message, int logoX = -1);

    /// Tests only: when above 0, the constructor takes this scale factor
    /// instead of asking the screen, so every scale can be built in one process.
    static float m_forcedScaleFactor;

    // Widget tree, in creation order (later created lies on top).
    QFrame *titleBarFrame = nullptr;
    QFrame *menuBarFrame = nullptr;
    QFrame *connectPageFrame = nullptr;
    QFrame *optionPageFrame = nullptr;
    QFrame *destinationPageFrame = nullptr;
    QFrame *progressPageFrame = nullptr;
    QFrame *loadPageFrame = nullptr;
    QFrame *selectedImagePageFrame = nullptr;
    QPushButton *closeBtn = nullptr;
    QPushButton *maximizeBtn = nullptr;
    QPushButton *minimizeBtn = nullptr;
    QLabel *titleLabel = nullptr;
    QLabel *titleLogoLabel = nullptr;
    QPushButton *menuBtn = nullptr;
    QLabel *menuSeparatorLabel = nullptr;
    QPushButton *helpBtn = nullptr;
    QPushButton *backBtn = nullptr;
    QLabel *logoLabel = nullptr;
    QPushButton *aboutBtn = nullptr;
    QPushButton *homeBtn = nullptr;
    QLabel *tapeDriveTitleLabel = nullptr;
    QLabel *connectedMovieLabel = nullptr;
    QLabel *notConnectedLabel = nullptr;
    QLabel *connectingHintLabel = nullptr;
    QLabel *connectingTitleLabel = nullptr;
    QLabel *disconnectedLabel = nullptr;
    QLabel *powerHintLabel = nullptr;
    QLabel *bottomBorderLabel = nullptr;
    QLabel *topBorderLabel = nullptr;
    QLabel *leftBorderLabel = nullptr;
    QLabel *rightBorderLabel = nullptr;
    QLabel *dividerLabel = nullptr;
    QPushButton *retryBtn = nullptr;
    QLabel *selectOptionLabel = nullptr;
    QPushButton *createImageBtn = nullptr;
    QPushButton *loadImageBtn = nullptr;
    QLabel *optionHintLabel = nullptr;
    QLabel *createHintLabel = nullptr;
    QPushButton *optionNextBtn = nullptr;
    QPushButton *browseDestinationBtn = nullptr;
    QTextEdit *destinationPathEdit = nullptr;
    QLabel *destinationTitleLabel = nullptr;
    QComboBox *blockSizeCombo = nullptr;
    QLabel *blockSizeLabel = nullptr;
    QCheckBox *turnOffCheckBox = nullptr;
    QCheckBox *ejectCheckBox = nullptr;
    QPushButton *createBtn = nullptr;
    QLabel *destinationHintLabel = nullptr;
    QLabel *recommendedLabel = nullptr;
    QLabel *creatingTitleLabel = nullptr;
    QLabel *savingAtLabel = nullptr;
    QLabel *pleaseWaitLabel = nullptr;
    QProgressBar *imagingProgressBar = nullptr;
    QLabel *savingPathLabel = nullptr;
    QLabel *progressDriveLabel = nullptr;
    QPushButton *scanCreatedBtn = nullptr;
    QLabel *percentLabel = nullptr;
    QLabel *scanCreatedHintLabel = nullptr;
    QLabel *completedLabel = nullptr;
    QLabel *imagePathInfoLabel = nullptr;
    QLabel *imageSizeInfoLabel = nullptr;
    QPushButton *stopBtn = nullptr;
    QTextEdit *loadPathEdit = nullptr;
    QPushButton *browseImageBtn = nullptr;
    QPushButton *loadNextBtn = nullptr;
    QLabel *loadHintLabel = nullptr;
    QLabel *selectImageTitleLabel = nullptr;
    QLabel *selectedImageTitleLabel = nullptr;
    QLabel *selectedImageHintLabel = nullptr;
    QPushButton *scanBtn = nullptr;
    QLabel *selectedDriveLabel = nullptr;
    QLabel *selectedImagePathLabel = nullptr;
    QLabel *selectedImageSizeLabel = nullptr;

    QMovie *connectedMovie = nullptr; ///< no Qt parent; lives as long as the window

    float animationProgress = 0.0f;
    QTimer *toolBarTimer = nullptr; ///< no Qt parent; owned here, deleted when replaced
    bool backShown = false;
    bool menuOnlyHelpAbout = false;
    bool homeShown = false;
    bool homeAndBackShown = false;
    bool imageCreatedShown = false;
    bool titleDragging = false;
    StripDrag titleDrag { titleDragging };
};
