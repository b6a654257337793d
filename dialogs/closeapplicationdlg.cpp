#include "dialogs/closeapplicationdlg.h"

#include "app/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_looks.h"
#include "imaging/imaging_state.h"
#include "platform/win32_process.h"

#include <QCoreApplication>
#include <QMouseEvent>

namespace {

const QSize kBaseSize(494, 176);

const BaseRect kBaseLayout[] = {
    { "frame", { 1, 0, 493, 175 } },
    { "NoBtn", { 389, 140, 88, 25 } },
    { "YesBtn", { 289, 140, 88, 25 } },
    { "label_2", { 120, 60, 261, 41 } },
    { "label_3", { 210, 6, 16, 16 } },
    { "label_4", { 1, 125, 491, 48 } },
    { "label_5", { 20, 45, 66, 66 } },
    { "label_8", { 1, 2, 491, 25 } },
};

QRect titleStrip()
{
    return QRect(0, 0, scaled(490), scaled(30));
}

} // namespace

CloseApplicationDlg::CloseApplicationDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowFlags(Qt::SplashScreen);
    layoutWidgets();
    applyQuestionImages(*this);
    label_8->setText(tr("Exit"));
    label_2->setText(tr("Are you sure you want to exit?"));
    YesBtn->setText(tr("Yes"));
    NoBtn->setText(tr("No"));
    connect(YesBtn, SIGNAL(clicked()), this, SLOT(CloseApplication()));
    connect(NoBtn, SIGNAL(clicked()), this, SLOT(CloseApplicationNo()));
}

CloseApplicationDlg::~CloseApplicationDlg() = default;

void CloseApplicationDlg::layoutWidgets()
{
    applyScaledLayout(this, kBaseSize, kBaseLayout);
}

void CloseApplicationDlg::CloseApplication()
{
    ImagingState::runFlag = false;
    // Returns only when the kill could not be started or did not finish in
    // time; the question then stays open and "No" still works.
    TaskKill(QCoreApplication::applicationPid());
}

void CloseApplicationDlg::CloseApplicationNo()
{
    close();
}

void CloseApplicationDlg::mousePressEvent(QMouseEvent *event)
{
    startStripDrag(this, event, titleStrip(), dialogDragging, dragOffset);
    QDialog::mousePressEvent(event);
}

void CloseApplicationDlg::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    followStripDrag(this, event, dialogDragging, dragOffset);
}

void CloseApplicationDlg::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    dialogDragging = false;
}
