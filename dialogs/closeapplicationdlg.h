#pragma once
#include "dialogs/message_forms.h"

#include <QDialog>
#include <QPoint>

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
    void layoutWidgets();

    QPoint dragOffset;
};
