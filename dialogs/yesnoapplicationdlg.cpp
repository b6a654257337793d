#include "dialogs/yesnoapplicationdlg.h"

#include "app/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_looks.h"

#include <QMouseEvent>

namespace {

const QSize kBaseSize(494, 176);

const BaseRect kBaseLayout[] = {
    { "frame", { 1, 0, 493, 175 } },
    { "NoBtn", { 389, 140, 88, 25 } },
    { "YesBtn", { 289, 140, 88, 25 } },
    { "label_2", { 110, 45, 300, 70 } },
    { "label_3", { 175, 6, 16, 16 } },
    { "label_4", { 1, 125, 491, 48 } },
    { "label_5", { 20, 45, 66, 66 } },
    { "label_8", { 1, 2, 491, 25 } },
};

QRect titleStrip()
{
    return QRect(0, 0, scaled(490), scaled(30));
}

} // namespace

YesNoApplicationDlg::YesNoApplicationDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowFlags(Qt::SplashScreen);
    layoutWidgets();
    applyQuestionImages(*this);
    label_8->setText(tr("     Block Size Mismatch"));
    label_2->setText(tr("Selected block size is larger than the tape block size.This will have an "
                        "impact on the recovery of data.Do you want to continue?"));
    YesBtn->setText(tr("Yes"));
    NoBtn->setText(tr("No"));
    connect(YesBtn, SIGNAL(clicked()), this, SLOT(CloseApplication()));
    connect(NoBtn, SIGNAL(clicked()), this, SLOT(CloseApplicationNo()));
}

YesNoApplicationDlg::~YesNoApplicationDlg() = default;

void YesNoApplicationDlg::layoutWidgets()
{
    applyScaledLayout(this, kBaseSize, kBaseLayout);
}

void YesNoApplicationDlg::CloseApplication()
{
    close();
    yesFlag = true;
}

void YesNoApplicationDlg::CloseApplicationNo()
{
    close();
    noFlag = true;
}

void YesNoApplicationDlg::mousePressEvent(QMouseEvent *event)
{
    startStripDrag(this, event, titleStrip(), dialogDragging, dragOffset);
    QDialog::mousePressEvent(event);
}

void YesNoApplicationDlg::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    followStripDrag(this, event, dialogDragging, dragOffset);
}

void YesNoApplicationDlg::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    dialogDragging = false;
}
