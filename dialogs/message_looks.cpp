#include "dialogs/message_looks.h"

#include "dialogs/dialog_common.h"
#include "dialogs/message_forms.h"

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
