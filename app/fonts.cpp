#include "app/fonts.h"

void installFontSubstitutes()
{
}
