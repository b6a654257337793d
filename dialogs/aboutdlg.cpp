#include "dialogs/aboutdlg.h"

#include "common/app_globals.h"
#include "common/desktop_links.h"
#include "dialogs/dialog_common.h"
#include "platform/win32_registry.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

bool aboutDragging = false;

namespace {

const BaseRect kPanelLayout[] = {
    { "label_18", { 24, 15, 310, 20 } },
    { "label_20", { 24, 70, 141, 16 } },
    { "line1", { 162, 80, 200, 1 } },
    { "label_6", { 24, 115, 90, 16 } },
    { "label_17", { 115, 115, 250, 18 } },
    { "label_16", { 24, 160, 128, 20 } },
    { "line2", { 162, 170, 200, 1 } },
    { "label_22", { 24, 185, 90, 16 } },
    { "OSLabel", { 115, 185, 266, 16 } },
    { "label_15", { 24, 205, 90, 16 } },
    { "VersionLabel", { 115, 205, 180, 16 } },
    { "SupportBtn", { 24, 239, 181, 22 } },
    { "LicenseButton", { 24, 281, 160, 26 } },
    { "CloseButton", { 200, 281, 83, 26 } },
};
const BaseRect kTitleLogo[] = { { "m_pPixmapLabel", { 260, 5, 16, 16 } } };

// A product name this short is not a real one; the older key is asked instead.
constexpr int kMinimumProductNameLength = 7;

const char *const kButtonStyle = "QPushButton{border-image: url(:/images/%1/%2)}"
                                 "QPushButton:hover { border-image: url(:/images/%1/%2)}"
                                 "QPushButton:pressed { border-image: url(:/images/%1/%2);}";

QString blankTitleFolder(const QString &scaleSet)
{
    if (scaleSet == QLatin1String("100"))
        return QStringLiteral("96-DPI");
    if (scaleSet == QLatin1String("125"))
        return QStringLiteral("125-DPI");
    return QStringLiteral("144-DPI");
}

QString aboutPictureName(const QString &scaleSet)
{
    if (scaleSet == QLatin1String("100"))
        return QStringLiteral("img_VelmoraAboutPixmap100.png");
    if (scaleSet == QLatin1String("125"))
        return QStringLiteral("img_VelmoraAboutPixmap128.png");
    return QStringLiteral("img_VelmoraAboutPixmap.png");
}

void setBlackText(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    widget->setPalette(palette);
}

QPixmap scaledPicture(const QString &path, const QSize &size)
{
    const QPixmap picture(path);
    if (picture.isNull())
        return picture;
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

AboutDlg::AboutDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    layoutScaled();
    buildTitleStrip();
    buildLayouts();
    applyPictures();
    setSupportLink();
    connect(LicenseButton, SIGNAL(clicked()), this, SLOT(OpenLicense()));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Tarnwick"));
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::layoutScaled()
{
    setFixedSize(scaled(602), scaled(368));
    LabelPixmap->setFixedSize(scaled(215), scaled(340));
    frame->setFixedSize(scaled(385), scaled(340));
    MainFrame->setFixedSize(scaled(602), scaled(368));
    placeScaled(frame, kPanelLayout);
    placeScaled(MainFrame, kTitleLogo);
    for (QWidget *text : std::initializer_list<QWidget *> { label_18, label_20, label_6, label_17,
             label_16, label_22, OSLabel, label_15, VersionLabel, titleTextLabel })
        if (text)
            setBlackText(text);
    readSystemInformation();
}

void AboutDlg::readSystemInformation()
{
    const RegistryKey productKey { QLatin1String(kWindowsNtVersionKeyPath) };
    QString product = productKey.stringValue(QStringLiteral("ProductName"));
    QString version = productKey.stringValue(QStringLiteral("CurrentVersion"));
    if (product.size() < kMinimumProductNameLength) {
        const RegistryKey olderKey { QLatin1String(kWindowsVersionKeyPath) };
        product = olderKey.stringValue(QStringLiteral("ProductName"));
        version = olderKey.stringValue(QStringLiteral("CurrentVersion"));
    }
    OSLabel->setText(product);
    VersionLabel->setText(version);
}

void AboutDlg::buildTitleStrip()
{
    const float scale = scaleFactor;
    const QString scaleSet = scaleSetName();
    m_pPixmapLabel->setPixmap(QPixmap(scaleSetImage(QStringLiteral("img_titleLogo.png"))));

    blankTitleLabel = new QLabel(MainFrame);
    blankTitleLabel->setFixedSize(static_cast<int>(15 * scale + 16 * scale), scaled(25));
    if (!scaleSet.isEmpty())
        blankTitleLabel->setPixmap(scaledPicture(
            QStringLiteral(":/images/%1/img_BlankTitle.png").arg(blankTitleFolder(scaleSet)),
            blankTitleLabel->size()));

    titleTextLabel = new QLabel(MainFrame);
    titleTextLabel->setFixedHeight(scaled(25));
    titleTextLabel->setText(tr("About"));
    titleTextLabel->setFont(dialogFont(QStringLiteral("Segoe UI Semibold"), 10, QFont::Normal));
    titleTextLabel->setAlignment(Qt::AlignCenter);
    setBlackText(titleTextLabel);

    titleLineLabel = new QLabel(MainFrame);
    titleLineLabel->setFixedHeight(1);
    titleLineLabel->setScaledContents(true);
    titleLineLabel->setPixmap(QPixmap(scaleSetImage(QStringLiteral("img_Line.png"))));
}

void AboutDlg::buildLayouts()
{
    const int sideWidth = static_cast<int>(15 * scaleFactor + 16 * scaleFactor);
    titleGrid = new QGridLayout;
    titleGrid->addWidget(blankTitleLabel, 0, 0);
    titleGrid->addWidget(titleTextLabel, 0, 1);
    titleGrid->setColumnStretch(1, 1);
    // An empty column as wide as the blank one keeps the title centred across the dialog.
    titleGrid->setColumnMinimumWidth(2, sideWidth);
    titleGrid->setColumnStretch(2, 0);

    lineGrid = new QGridLayout;
    lineGrid->addWidget(titleLineLabel, 0, 0);

    contentGrid = new QGridLayout;
    contentGrid->addWidget(LabelPixmap, 0, 0);
    contentGrid->addWidget(frame, 0, 1);

    auto *rows = new QVBoxLayout(MainFrame);
    for (QGridLayout *grid : { titleGrid, lineGrid, contentGrid }) {
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(0);
        rows->addLayout(grid);
    }
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    m_pPixmapLabel->raise(); // the logo sits on the title strip, above the title labels
}

void AboutDlg::applyPictures()
{
    const QString scaleSet = scaleSetName();
    if (scaleSet.isEmpty()) {
        CloseButton->setStyleSheet(QString());
        LicenseButton->setStyleSheet(QString());
        return;
    }
    LabelPixmap->setPixmap(
        QPixmap(QStringLiteral(":/images/%1/%2").arg(scaleSet, aboutPictureName(scaleSet))));
    const QPixmap dot(scaleSetImage(QStringLiteral("img_Dot.png")));
    line1->setPixmap(dot);
    line2->setPixmap(dot);
    CloseButton->setStyleSheet(
        QLatin1String(kButtonStyle).arg(scaleSet, QStringLiteral("img_MediumButton.png")));
    LicenseButton->setStyleSheet(
        QLatin1String(kButtonStyle).arg(scaleSet, QStringLiteral("img_BigButtonActive.png")));
}

void AboutDlg::setSupportLink()
{
    const RegistryKey settings(settingsPath);
    QString text = settings.stringValue(QStringLiteral("EmailSupText"));
    QString target = settings.stringValue(QStringLiteral("EmailSup"));
    if (!target.isEmpty() && !mayOpen(QUrl(target), supportSchemes(), "the support link", target))
        text = target = QString(); // shown as when the installation wrote none
    // Escaped, so a quote or an angle bracket in the installed values cannot break the anchor.
    SupportBtn->setText(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(target.toHtmlEscaped(), text.toHtmlEscaped()));
    SupportBtn->setOpenExternalLinks(true);
}

void AboutDlg::OpenLicense()
{
    // A missing file makes the desktop's open fail quietly; nothing to report.
    QDesktopServices::openUrl(
        QUrl::fromUserInput(QCoreApplication::applicationDirPath() + QStringLiteral("/Eula.pdf")));
}

void AboutDlg::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(this, event, QRect(0, 0, scaled(602), scaled(30)));
    QDialog::mousePressEvent(event);
}

void AboutDlg::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    m_drag.move(this, event);
}

void AboutDlg::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    m_drag.release();
}

void AboutDlg::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        retranslateUi(this);
        if (titleTextLabel)
            titleTextLabel->setText(tr("About"));
        layoutScaled();
    }
    QDialog::changeEvent(event);
}
