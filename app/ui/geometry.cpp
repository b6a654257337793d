#include "app/korveltapedrive.h"

#include "app/app_globals.h"

void KorvelTapeDrive::layoutWidgets()
{
    setFixedSize(scaled(850), scaled(600));
}
