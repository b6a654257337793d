#include "common/scale_set.h"

#include "common/app_globals.h"

float scaleFactorForDpi(int dpi)
{
    float s = static_cast<float>(dpi) / 96.0f;
    // Only three image sets exist; densities between them take the next larger.
    if (s > 1.0f && s < 1.25f)
        s = 1.25f;
    else if (s > 1.25f && s < 1.5f)
        s = 1.5f;
    return s;
}

float roundedToSixDigits(float value)
{
    return QString::number(static_cast<double>(value), 'g', 6).toFloat();
}

int scaleSetFor(float scale)
{
    const float rounded = roundedToSixDigits(scale);
    if (rounded == 1.0f)
        return 100;
    if (rounded == 1.25f)
        return 125;
    if (rounded >= 1.5f)
        return 150;
    return 0;
}

QString scaleSetFolder()
{
    const int set = scaleSetFor(scaleFactor);
    return set == 0 ? QString() : QStringLiteral(":/images/%1/").arg(set);
}
