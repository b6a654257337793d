#include "dialogs/yesnoapplicationdlg.h"

#include "dialogs/message_looks.h"

#include <QMouseEvent>

YesNoApplicationDlg::YesNoApplicationDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    setUpQuestion(this, *this, QRect(110, 45, 300, 70), QRect(175, 6, 16, 16));
    label_8->setText(tr("     Block Size Mismatch"));
    label_2->setText(tr("Selected block size is larger than the tape block size.This will have an "
                        "impact on the recovery of data.Do you want to continue?"));
    connect(YesBtn, SIGNAL(clicked()), this, SLOT(CloseApplication()));
    connect(NoBtn, SIGNAL(clicked()), this, SLOT(CloseApplicationNo()));
}

YesNoApplicationDlg::~YesNoApplicationDlg() = default;

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
    m_drag.press(this, event, questionTitleStrip());
    QDialog::mousePressEvent(event);
}

void YesNoApplicationDlg::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    m_drag.move(this, event);
}

void YesNoApplicationDlg::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    m_drag.release();
}
