#include "app/korveltapedrive.h"

#include "app/app_globals.h"
#include "dialogs/closeapplicationdlg.h"
#include "dialogs/dialog_common.h"
#include "dialogs/repairfinishdialog.h"
#include "imaging/imaging_state.h"

#include <QCloseEvent>
#include <QCoreApplication>

void KorvelTapeDrive::CloseProcess()
{
    if (ImagingState::busy) {
        // A run cannot be stopped from here: say so and let it go on.
        auto *message = new repairFinishDialog(this);
        message->repairedLabl->setText(tr("An image of selected tape is being created. \nYou can "
                                          "exit the app once the image is \ncomplete."));
        message->label_8->setText(tr("Exit"));
        placeScaledSquare(message->label_3, 165, 6, 16);
        QCoreApplication::processEvents();
        message->setModal(true);
        message->exec();
        return;
    }
    auto *question = new CloseApplicationDlg(this);
    question->exec();
}

void KorvelTapeDrive::closeEvent(QCloseEvent *event)
{
    CloseProcess();
    // The window is never closed: the process ends only by the exit question,
    // the scanner hand-off or a refused start.
    event->ignore();
}
