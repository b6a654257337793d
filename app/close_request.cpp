#include "app/korveltapedrive.h"

#include <QCloseEvent>

void KorvelTapeDrive::CloseProcess()
{
}

void KorvelTapeDrive::closeEvent(QCloseEvent *event)
{
    CloseProcess();
    event->ignore();
}
