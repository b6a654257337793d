#pragma once
/**
 * @file
 * The rules that turn the display density into the window's scale factor and
 * the scale factor into one of the three compiled-in image sets.
 */
#include <QString>

/**
 * The scale factor for a display of @p dpi logical dots per inch: dpi / 96,
 * with values strictly between 1.0 and 1.25 raised to 1.25 and those strictly
 * between 1.25 and 1.5 raised to 1.5; all others stay as they are.
 */
float scaleFactorForDpi(int dpi);

/**
 * @p value rounded to six significant digits (general notation, read back as
 * a float). Absorbs the error of repeated float arithmetic before a value is
 * compared exactly.
 */
float roundedToSixDigits(float value);

/// 100, 125 or 150 for the image set that suits @p scale; 0 below 1.0 (no set).
int scaleSetFor(float scale);

/**
 * The resource folder of the image set for the current scaleFactor, such as
 * ":/images/125/"; empty when no set applies.
 */
QString scaleSetFolder();
