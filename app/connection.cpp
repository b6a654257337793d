#include "app/korveltapedrive.h"

void KorvelTapeDrive::loadTapeDrive()
{
}

void KorvelTapeDrive::Retry()
{
}

