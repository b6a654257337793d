#include "dialogs/message_forms.h"

#include "dialogs/dialog_common.h"

#include <QCoreApplication>
#include <QDialog>

namespace {

const char *const kPanelLook = "background-color: rgb(249,249,249);";
const char *const kStripLook = "background-color:white;";

QFont titleFont()
{
    return dialogFont(QStringLiteral("Segoe UI Semibold"), 10, QFont::Bold);
}

template <typename T> T *makeWidget(QDialog *dialog, const char *name)
{
    auto *widget = new T(dialog);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QFrame *makePanel(QDialog *dialog)
{
    auto *frame = makeWidget<QFrame>(dialog, "frame");
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Plain);
    frame->setStyleSheet(QLatin1String(kPanelLook));
    return frame;
}

QLabel *makeStrip(QDialog *dialog, const char *name)
{
    auto *strip = makeWidget<QLabel>(dialog, name);
    strip->setStyleSheet(QLatin1String(kStripLook));
    return strip;
}

QLabel *makeTitle(QDialog *dialog)
{
    auto *title = makeStrip(dialog, "label_8");
    title->setFont(titleFont());
    title->setFrameShape(QFrame::NoFrame);
    title->setAlignment(Qt::AlignCenter);
    return title;
}

QLabel *makeLogo(QDialog *dialog)
{
    auto *logo = makeWidget<QLabel>(dialog, "label_3");
    logo->setStyleSheet(QLatin1String(kPanelLook));
    return logo;
}

QPushButton *makeButton(QDialog *dialog, const char *name)
{
    auto *button = makeWidget<QPushButton>(dialog, name);
    button->setFont(titleFont());
    return button;
}

QLabel *makeMessage(QDialog *dialog, const char *name, const QFont &font)
{
    auto *message = makeWidget<QLabel>(dialog, name);
    message->setFont(font);
    message->setWordWrap(true);
    return message;
}

} // namespace

void Ui_QuestionForm::setupQuestionUi(QDialog *dialog, const char *formName)
{
    dialog->setObjectName(QLatin1String(formName));
    frame = makePanel(dialog);
    NoBtn = makeButton(dialog, "NoBtn");
    label_2 = makeMessage(dialog, "label_2", titleFont());
    label_4 = makeStrip(dialog, "label_4");
    label_5 = makeWidget<QLabel>(dialog, "label_5");
    YesBtn = makeButton(dialog, "YesBtn");
    label_8 = makeTitle(dialog);
    label_3 = makeLogo(dialog);
    // Created before the bottom strip but shown above it, next to "Yes".
    NoBtn->raise();
}

void Ui_CloseDlg::setupUi(QDialog *CloseDlg)
{
    setupQuestionUi(CloseDlg, "CloseDlg");
    retranslateUi(CloseDlg);
    QMetaObject::connectSlotsByName(CloseDlg);
}

void Ui_CloseDlg::retranslateUi(QDialog *CloseDlg)
{
    CloseDlg->setWindowTitle(QCoreApplication::translate("CloseDlg", "Tarnwick"));
}

void Ui_YesNo::setupUi(QDialog *YesNo)
{
    setupQuestionUi(YesNo, "YesNo");
    retranslateUi(YesNo);
    QMetaObject::connectSlotsByName(YesNo);
}

void Ui_YesNo::retranslateUi(QDialog *YesNo)
{
    YesNo->setWindowTitle(QCoreApplication::translate("YesNo", "Tarnwick"));
}

void Ui_repairFinishDialog::setupUi(QDialog *repairFinishDialog)
{
    repairFinishDialog->setObjectName(QStringLiteral("repairFinishDialog"));
    // The panel goes first: it covers the whole dialog and must stay below the message.
    frame = makePanel(repairFinishDialog);
    repairedLabl = makeMessage(repairFinishDialog, "repairedLabl",
        dialogFont(QStringLiteral("Segoe UI"), 10, QFont::Normal));
    lower_barlabel = makeStrip(repairFinishDialog, "lower_barlabel");
    label = makeWidget<QLabel>(repairFinishDialog, "label");
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label_2 = makeWidget<QLabel>(repairFinishDialog, "label_2");
    label_8 = makeTitle(repairFinishDialog);
    label_3 = makeLogo(repairFinishDialog);
    OkBtn = makeButton(repairFinishDialog, "OkBtn");
    retranslateUi(repairFinishDialog);
    QMetaObject::connectSlotsByName(repairFinishDialog);
}

void Ui_repairFinishDialog::retranslateUi(QDialog *repairFinishDialog)
{
    repairFinishDialog->setWindowTitle(
        QCoreApplication::translate("repairFinishDialog", "Tarnwick"));
}
