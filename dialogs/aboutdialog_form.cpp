#include "dialogs/aboutdialog_form.h"

#include "dialogs/dialog_common.h"

#include <QCoreApplication>
#include <QDialog>

namespace {

void setColour(QWidget *widget, const QList<QPalette::ColorRole> &roles, const QColor &active,
    const QColor &disabled)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : roles) {
        palette.setColor(QPalette::Active, role, active);
        palette.setColor(QPalette::Inactive, role, active);
        palette.setColor(QPalette::Disabled, role, disabled);
    }
    widget->setPalette(palette);
}

template <typename T> T *makeWidget(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *makeLabel(QWidget *panel, const char *name, const QRect &geometry, int points)
{
    auto *label = makeWidget<QLabel>(panel, name, geometry);
    label->setFont(dialogFont(QStringLiteral("Segoe UI"), points, QFont::Normal));
    return label;
}

QLabel *makeLine(QWidget *panel, const char *name, const QRect &geometry)
{
    auto *line = makeWidget<QLabel>(panel, name, geometry);
    line->setScaledContents(true);
    return line;
}

QPushButton *makeButton(QWidget *panel, const char *name, const QRect &geometry)
{
    auto *button = makeWidget<QPushButton>(panel, name, geometry);
    button->setFont(dialogFont(QStringLiteral("Segoe UI"), 10, QFont::Normal));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString span(const char *text, int points, const char *extra = "")
{
    return QStringLiteral("<span style=\" font-family:'Segoe UI'; font-size:%1pt;%2\">%3</span>")
        .arg(points)
        .arg(QLatin1String(extra), QLatin1String(text));
}

QString paragraph(const QString &spans)
{
    return QStringLiteral("<html><head/><body><p>%1</p></body></html>").arg(spans);
}

QString caption(const char *text)
{
    return paragraph(span(text, 9) + span(" : ", 9, " font-weight:600;"));
}

QString translated(const QString &text)
{
    return QCoreApplication::translate("AboutDialog", text.toUtf8().constData());
}

} // namespace

void Ui_AboutDialog::setupUi(QDialog *AboutDialog)
{
    AboutDialog->setObjectName(QStringLiteral("AboutDialog"));
    AboutDialog->resize(602, 368);
    const QColor dialogBack(253, 253, 253);
    setColour(AboutDialog, { QPalette::Base, QPalette::Window }, dialogBack, dialogBack);
    AboutDialog->setAutoFillBackground(false);
    AboutDialog->setModal(true);

    LabelPixmap = makeWidget<QLabel>(AboutDialog, "LabelPixmap", QRect(1, 27, 215, 340));
    LabelPixmap->setScaledContents(true);

    MainFrame = makeWidget<QFrame>(AboutDialog, "MainFrame", QRect(0, 0, 602, 368));
    MainFrame->setFrameShape(QFrame::Box);
    MainFrame->setFrameShadow(QFrame::Plain);
    setColour(MainFrame, { QPalette::WindowText }, QColor(150, 150, 150), QColor(118, 116, 108));

    m_pPixmapLabel = makeWidget<QLabel>(MainFrame, "m_pPixmapLabel", QRect(260, 5, 16, 16));
    m_pPixmapLabel->setScaledContents(true);

    frame = makeWidget<QFrame>(MainFrame, "frame", QRect(216, 27, 385, 340));
    frame->setFrameShape(QFrame::NoFrame);
    const QColor panelBack(243, 243, 243);
    setColour(frame, { QPalette::Base, QPalette::Window }, panelBack, panelBack);
    frame->setAutoFillBackground(true);

    label_18 = makeLabel(frame, "label_18", QRect(24, 15, 310, 20), 10);
    label_20 = makeLabel(frame, "label_20", QRect(24, 70, 141, 16), 10);
    line1 = makeLine(frame, "line1", QRect(162, 80, 200, 1));
    label_6 = makeLabel(frame, "label_6", QRect(24, 115, 90, 16), 9);
    label_17 = makeLabel(frame, "label_17", QRect(115, 115, 250, 18), 10);
    label_16 = makeLabel(frame, "label_16", QRect(24, 160, 128, 20), 10);
    line2 = makeLine(frame, "line2", QRect(162, 170, 200, 1));
    label_22 = makeLabel(frame, "label_22", QRect(24, 185, 90, 16), 9);
    OSLabel = makeLabel(frame, "OSLabel", QRect(115, 185, 266, 16), 9);
    OSLabel->setTextFormat(Qt::PlainText); // shown exactly as the system reports it
    label_15 = makeLabel(frame, "label_15", QRect(24, 205, 90, 16), 9);
    VersionLabel = makeLabel(frame, "VersionLabel", QRect(115, 205, 180, 16), 9);
    VersionLabel->setTextFormat(Qt::PlainText);
    SupportBtn = makeLabel(frame, "SupportBtn", QRect(24, 239, 181, 22), 11);
    SupportBtn->setTextFormat(Qt::RichText);
    SupportBtn->setOpenExternalLinks(true);
    LicenseButton = makeButton(frame, "LicenseButton", QRect(24, 281, 160, 26));
    CloseButton = makeButton(frame, "CloseButton", QRect(200, 281, 83, 26));

    retranslateUi(AboutDialog);
    QObject::connect(CloseButton, SIGNAL(clicked()), AboutDialog, SLOT(close()));
    QMetaObject::connectSlotsByName(AboutDialog);
}

void Ui_AboutDialog::retranslateUi(QDialog *AboutDialog)
{
    AboutDialog->setWindowTitle(QCoreApplication::translate("AboutDialog", "Tarnwick"));
    label_18->setText(translated(paragraph(span("Tarnwick", 10, " font-weight:600;"))));
    label_20->setText(
        translated(paragraph(span("Product Information", 10, " font-weight:600; color:#000000;"))));
    label_6->setText(translated(caption("Version")));
    label_17->setText(QCoreApplication::translate("AboutDialog", "3.1.0.0"));
    label_16->setText(translated(paragraph(span("System Information", 10, " font-weight:600;"))));
    label_22->setText(translated(caption("O. S.")));
    label_15->setText(translated(caption("Version")));
    LicenseButton->setText(QCoreApplication::translate("AboutDialog", "View User License"));
    CloseButton->setText(QCoreApplication::translate("AboutDialog", "Close"));
}
