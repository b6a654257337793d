#pragma once
#include "common/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_forms.h"

#include <QDialog>

/**
 * A yes/no question. The answer is left in yesFlag and noFlag for the caller
 * to read after exec(); both false means the question was closed otherwise.
 */
class YesNoApplicationDlg : public QDialog, public Ui::YesNo
{
    Q_OBJECT

public:
    explicit YesNoApplicationDlg(QWidget *parent = nullptr);
    ~YesNoApplicationDlg() override;

    bool yesFlag = false;
    bool noFlag = false;

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
