#include "app/korveltapedrive.h"

void KorvelTapeDrive::browseImagePathLoad()
{
}

void KorvelTapeDrive::scanImage()
{
}

void KorvelTapeDrive::Scanexe()
{
}

void KorvelTapeDrive::ScanexeCreate()
{
}

