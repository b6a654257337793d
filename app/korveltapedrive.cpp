#include "app/korveltapedrive.h"

#include "app/path_box.h"
#include "common/fonts.h"

#include "app/screen_dc.h"
#include "common/app_globals.h"
#include "common/scale_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

float KorvelTapeDrive::m_forcedScaleFactor = 0.0f;

KorvelTapeDrive::KorvelTapeDrive(QWidget *parent)
    : QMainWindow(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("KorvelTapeDriveClass"));
    resize(543, 347); // replaced by the fixed size of layoutWidgets()
    auto *centralWidget = new QWidget(this);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(centralWidget); // stays empty: every page is a child of the window
    setWindowTitle(QCoreApplication::translate("KorvelTapeDriveClass", "KorvelTapeDrive"));
    QMetaObject::connectSlotsByName(this);

    // We draw our own title bar; Qt::Window keeps the taskbar entry.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setWindowTitle(QStringLiteral("Tarnwick")); // what the taskbar shows

    detectScaleFactor();
    installFontSubstitutes(); // before any text is measured, in the program and in tests alike

    toolBarTimer = nullptr;
    createWidgets();
    applyScaledStyles();
    applyTexts();
    setInitialState();
    layoutWidgets();
    connectSignals();

    // The menu starts open: the first animation runs in the opening direction.
    menuBtn->setCheckable(true);
    menuBtn->setChecked(false);
    menuBtn->setChecked(true);
    OnMenuProduct();
}

KorvelTapeDrive::~KorvelTapeDrive()
{
    delete toolBarTimer;
    delete connectedMovie;
}

void KorvelTapeDrive::detectScaleFactor()
{
    if (m_forcedScaleFactor > 0.0f) {
        scaleFactor = m_forcedScaleFactor;
        return;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    scaleFactor = scaleFactorForDpi(dpi);
}

void KorvelTapeDrive::setInitialState()
{
    optionPageFrame->show();
    destinationPageFrame->hide();
    progressPageFrame->hide();
    backShown = false;
    // The connection page stays "shown" under the option page; the option
    // page covers it until a connection attempt hides the option page.
    const std::initializer_list<QWidget *> hiddenAtStart = { backBtn, loadPageFrame, homeBtn,
        selectedImagePageFrame, notConnectedLabel, scanCreatedHintLabel, imagePathInfoLabel,
        selectedImagePathLabel, imageSizeInfoLabel, completedLabel };
    for (QWidget *widget : hiddenAtStart)
        widget->hide();

    aboutBtn->setToolTip(tr("About"));
    helpBtn->setToolTip(tr("Help"));
    homeBtn->setToolTip(tr("Home"));
    backBtn->setToolTip(tr("Back"));
    menuBtn->setToolTip(tr("Menu"));

    loadPathEdit->setReadOnly(true);
    loadPathEdit->setTextInteractionFlags(Qt::NoTextInteraction);
    destinationPathEdit->setReadOnly(true);
    PathBox::setUp(loadPathEdit);
    PathBox::setUp(destinationPathEdit);

    // The tiles and title-bar buttons are clicked, never focused: no focus frame.
    for (QPushButton *button :
        { loadImageBtn, createImageBtn, closeBtn, minimizeBtn, menuBtn, retryBtn })
        button->setFocusPolicy(Qt::NoFocus);
}

void KorvelTapeDrive::connectSignals()
{
    // Buttons are connected by signature, as the slots are invoked by name.
    const struct
    {
        QPushButton *button;
        const char *slot;
    } clicks[] = {
        { minimizeBtn, SLOT(showMinimzedWin()) },
        { retryBtn, SLOT(Retry()) },
        { createImageBtn, SLOT(getTapeDetails()) },
        { browseDestinationBtn, SLOT(browseImagePath()) },
        { browseImageBtn, SLOT(browseImagePathLoad()) },
        { createBtn, SLOT(createImageNextBtnClick()) },
        { closeBtn, SLOT(CloseProcess()) },
        { stopBtn, SLOT(CloseProcess()) },
        { backBtn, SLOT(backButton()) },
        { menuBtn, SLOT(OnMenuProduct()) },
        { aboutBtn, SLOT(onAbtDlg()) },
        { helpBtn, SLOT(helpOnline()) },
        { loadImageBtn, SLOT(loadImage()) },
        { homeBtn, SLOT(HomeButton()) },
        { loadNextBtn, SLOT(scanImage()) },
        { scanBtn, SLOT(Scanexe()) },
        { scanCreatedBtn, SLOT(ScanexeCreate()) },
        { optionNextBtn, SLOT(MainFrameTnext()) },
    };
    for (const auto &click : clicks)
        connect(click.button, SIGNAL(clicked()), this, click.slot);

    connect(
        blockSizeCombo, &QComboBox::currentTextChanged, this, &KorvelTapeDrive::blockSizeChanged);
    connect(ejectCheckBox, &QCheckBox::stateChanged, this, &KorvelTapeDrive::ejectcheckBoxChanged);
    connect(
        turnOffCheckBox, &QCheckBox::stateChanged, this, &KorvelTapeDrive::turnOffcheckBoxChanged);
    // maximizeBtn is drawn for the look only and has no action.
}

void KorvelTapeDrive::showMinimzedWin()
{
    showMinimized();
}

void KorvelTapeDrive::OnMenuProduct()
{
    // A click during an animation restarts it from the beginning in the new
    // direction; the ticks read menuBtn's checked state.
    animationProgress = 0.0f;
    delete toolBarTimer;
    toolBarTimer = new QTimer;
    toolBarTimer->start(toolBarInterval);
    connect(toolBarTimer, &QTimer::timeout, this, &KorvelTapeDrive::OnToolBarTimerSlot);
}

void KorvelTapeDrive::mousePressEvent(QMouseEvent *event)
{
    // The strip ends left of the minimise, maximise and close buttons.
    titleDrag.press(this, event, QRect(0, 0, scaled(602), scaled(30)));
    QWidget::mousePressEvent(event);
}

void KorvelTapeDrive::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    titleDrag.release();
}

void KorvelTapeDrive::mouseDoubleClickEvent(QMouseEvent *)
{
    // Deliberately empty: a double click on the title neither maximises the
    // fixed-size window nor starts a drag with its second press.
}

void KorvelTapeDrive::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    titleDrag.move(this, event);
}

void KorvelTapeDrive::keyPressEvent(QKeyEvent *event)
{
    // Keys that no child took have no meaning here; in particular Space and
    // Tab must not reach QMainWindow's handling.
    event->ignore();
}
