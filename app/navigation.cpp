#include "app/korveltapedrive.h"

void KorvelTapeDrive::getTapeDetails()
{
}

void KorvelTapeDrive::loadImage()
{
}

void KorvelTapeDrive::MainFrameTnext()
{
}

void KorvelTapeDrive::backButton()
{
}

void KorvelTapeDrive::HomeButton()
{
}

void KorvelTapeDrive::ejectcheckBoxChanged(int)
{
}

void KorvelTapeDrive::turnOffcheckBoxChanged(int)
{
}

void KorvelTapeDrive::OnToolBarTimerSlot()
{
}

