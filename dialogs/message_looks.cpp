#include "dialogs/message_looks.h"

#include "common/app_globals.h"
#include "dialogs/dialog_common.h"
#include "dialogs/message_forms.h"

#include <QCoreApplication>
#include <QDialog>
#include <QPixmap>

namespace {

// %1 is the scale-set folder.
const char *const kLogoStyle = "border-image:url(:/images/%1/img_titleLogo.png);";
const char *const kButtonStyle = "QPushButton{min-height: 20px;min-width: 20px; "
                                 "border-image: url(:/images/%1/RegisteraNormal.png)}";
const char *const kPressedButtonStyle = "QPushButton:pressed{min-height: 20px;min-width: 20px; "
                                        "border-image: url(:/images/%1/Registerb-Hot.png)}";
const char *const kHelpIconStyle = "border-image:url(:/images/%1/Help.png);";

QString withFolder(const char *style, const QString &folder)
{
    return QLatin1String(style).arg(folder);
}

} // namespace

void applyQuestionImages(Ui_QuestionForm &form)
{
    const QString folder = scaleSetName();
    if (folder.isEmpty())
        return;
    form.label_3->setStyleSheet(withFolder(kLogoStyle, folder));
    form.YesBtn->setStyleSheet(withFolder(kButtonStyle, folder));
    form.NoBtn->setStyleSheet(
        withFolder(kButtonStyle, folder) + withFolder(kPressedButtonStyle, folder));
    form.label_5->setStyleSheet(withFolder(kHelpIconStyle, folder));
}

void applyMessageImages(QLabel *logo, QPushButton *okButton, QLabel *icon)
{
    const QString folder = scaleSetName();
    if (folder.isEmpty())
        return;
    logo->setStyleSheet(withFolder(kLogoStyle, folder));
    okButton->setStyleSheet(withFolder(kButtonStyle, folder));
    icon->clear();
    icon->setScaledContents(true);
    icon->setPixmap(QPixmap(scaleSetImage(QStringLiteral("info.png"))));
}

void setUpQuestion(QDialog *dialog, Ui_QuestionForm &form, const QRect &message, const QRect &logo)
{
    dialog->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    dialog->setWindowFlags(Qt::SplashScreen);
    const BaseRect layout[] = {
        { "frame", { 1, 0, 493, 175 } },
        { "NoBtn", { 389, 140, 88, 25 } },
        { "YesBtn", { 289, 140, 88, 25 } },
        { "label_2", message },
        { "label_3", logo },
        { "label_4", { 1, 125, 491, 48 } },
        { "label_5", { 20, 45, 66, 66 } },
        { "label_8", { 1, 2, 491, 25 } },
    };
    applyScaledLayout(dialog, QSize(494, 176), layout);
    applyQuestionImages(form);
    form.YesBtn->setText(QCoreApplication::translate("Question", "Yes"));
    form.NoBtn->setText(QCoreApplication::translate("Question", "No"));
}

QRect questionTitleStrip()
{
    return QRect(0, 0, scaled(490), scaled(30));
}
