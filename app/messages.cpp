#include "app/korveltapedrive.h"

#include "dialogs/dialog_common.h"
#include "dialogs/repairfinishdialog.h"

#include <QCoreApplication>

void KorvelTapeDrive::showMessage(const QString &title, const QString &message, int logoX)
{
    // A new dialog per message; the window owns it and keeps it, hidden, afterwards.
    auto *dialog = new repairFinishDialog(this);
    dialog->repairedLabl->setText(message);
    dialog->label_8->setText(title);
    if (logoX >= 0)
        placeScaledSquare(dialog->label_3, logoX, 6, 16);
    QCoreApplication::processEvents();
    dialog->setModal(true);
    dialog->exec();
}
