#include "app/korveltapedrive.h"

void KorvelTapeDrive::showMessage(const QString &, const QString &, int)
{
    // TODO: run repairFinishDialog once the message dialogs exist.
}
