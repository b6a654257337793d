#pragma once
/**
 * @file
 * The forms of the three message dialogs, written the way uic writes forms:
 * setupUi creates the widgets in stacking order (later lies on top) with their
 * object names, frames, fonts and plain looks; retranslateUi sets the window
 * title and leaves every label and button empty for the dialog to fill.
 * Geometry and pictures depend on the scale and are the dialogs' own job.
 */
#include <QFrame>
#include <QLabel>
#include <QPushButton>

class QDialog;

/// The widgets of the two question dialogs (exit question and yes/no question).
class Ui_QuestionForm
{
public:
    QFrame *frame = nullptr;
    QPushButton *NoBtn = nullptr;
    QLabel *label_2 = nullptr; ///< message
    QLabel *label_4 = nullptr; ///< bottom strip
    QLabel *label_5 = nullptr; ///< icon
    QPushButton *YesBtn = nullptr;
    QLabel *label_8 = nullptr; ///< title
    QLabel *label_3 = nullptr; ///< logo

protected:
    void setupQuestionUi(QDialog *dialog, const char *formName);
};

class Ui_CloseDlg : public Ui_QuestionForm
{
public:
    void setupUi(QDialog *CloseDlg);
    void retranslateUi(QDialog *CloseDlg);
};

class Ui_YesNo : public Ui_QuestionForm
{
public:
    void setupUi(QDialog *YesNo);
    void retranslateUi(QDialog *YesNo);
};

class Ui_repairFinishDialog
{
public:
    QLabel *repairedLabl = nullptr; ///< message
    QLabel *lower_barlabel = nullptr; ///< bottom strip
    QFrame *frame = nullptr;
    QLabel *label = nullptr; ///< empty bold label
    QLabel *label_2 = nullptr; ///< icon
    QLabel *label_8 = nullptr; ///< title
    QLabel *label_3 = nullptr; ///< logo
    QPushButton *OkBtn = nullptr;

    void setupUi(QDialog *repairFinishDialog);
    void retranslateUi(QDialog *repairFinishDialog);
};

namespace Ui {
class CloseDlg : public Ui_CloseDlg
{
};
class YesNo : public Ui_YesNo
{
};
class repairFinishDialog : public Ui_repairFinishDialog
{
};
} // namespace Ui
