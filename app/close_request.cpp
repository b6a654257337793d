#include "app/korveltapedrive.h"

#include "common/app_globals.h"
#include "dialogs/closeapplicationdlg.h"
#include "imaging/imaging_state.h"

#include <QCloseEvent>

void KorvelTapeDrive::CloseProcess()
{
    if (ImagingState::busy) {
        // A run cannot be stopped from here: say so and let it go on.
        showMessage(tr("Exit"),
            tr("An image of selected tape is being created. \nYou can exit the app once "
               "the image is \ncomplete."),
            165);
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
