#pragma once
#include "common/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_forms.h"

#include <QDialog>

/// The exit question. "Yes" ends the whole process at once; "No" closes the question.
class CloseApplicationDlg : public QDialog, public Ui::CloseDlg
{
    Q_OBJECT

public:
    explicit CloseApplicationDlg(QWidget *parent = nullptr);
    ~CloseApplicationDlg() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private slots:
    void CloseApplication();
    void CloseApplicationNo();

private:
    StripDrag m_drag { dialogDragging };
};
