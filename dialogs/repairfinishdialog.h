#pragma once
#include "common/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_forms.h"

#include <QDialog>

/**
 * The one-button message box. Callers set the title (label_8) and the
 * message (repairedLabl), may move the logo (label_3), then exec() it.
 */
class repairFinishDialog : public QDialog, public Ui::repairFinishDialog
{
    Q_OBJECT

public:
    explicit repairFinishDialog(QWidget *parent = nullptr);
    ~repairFinishDialog() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void OnOK();

private:
    void layoutWidgets();

    StripDrag m_drag { dialogDragging };
};
