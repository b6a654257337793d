#include "app/korveltapedrive.h"

void KorvelTapeDrive::applyScaledStyles()
{
}

void KorvelTapeDrive::applyTexts()
{
}
