#include "app/korveltapedrive.h"

void KorvelTapeDrive::createImageNextBtnClick()
{
}

