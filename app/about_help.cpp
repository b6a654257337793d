#include "app/korveltapedrive.h"

void KorvelTapeDrive::onAbtDlg()
{
}

void KorvelTapeDrive::helpOnline()
{
}

