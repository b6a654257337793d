#include "dialogs/closeapplicationdlg.h"

#include "dialogs/message_looks.h"
#include "imaging/imaging_state.h"
#include "platform/win32_process.h"

#include <QCoreApplication>
#include <QMouseEvent>

CloseApplicationDlg::CloseApplicationDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    setUpQuestion(this, *this, QRect(120, 60, 261, 41), QRect(210, 6, 16, 16));
    label_8->setText(tr("Exit"));
    label_2->setText(tr("Are you sure you want to exit?"));
    connect(YesBtn, SIGNAL(clicked()), this, SLOT(CloseApplication()));
    connect(NoBtn, SIGNAL(clicked()), this, SLOT(CloseApplicationNo()));
}

CloseApplicationDlg::~CloseApplicationDlg() = default;

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
    m_drag.press(this, event, questionTitleStrip());
    QDialog::mousePressEvent(event);
}

void CloseApplicationDlg::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    m_drag.move(this, event);
}

void CloseApplicationDlg::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    m_drag.release();
}
