#include "app/korveltapedrive.h"

void KorvelTapeDrive::browseImagePath()
{
}

void KorvelTapeDrive::blockSizeChanged(const QString &)
{
}

