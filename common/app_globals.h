#pragma once
/**
 * @file
 * Process-wide values of the application shell, set before the entry point
 * runs (static initialisation) and shared by the window, its pages and the
 * dialogs.
 */
#include <QString>

extern float scaleFactor; ///< logical dpi / 96, raised to 1.25 or 1.5 in between
extern QString settingsPath; ///< the application's settings key; set after the guard
extern int toolBarInterval; ///< menu animation tick in ms
extern float toolBarStep; ///< menu animation progress per tick
extern bool createOptionSelected; ///< the create tile was clicked
extern bool loadOptionSelected; ///< the load tile was clicked
extern bool selectedImageMark; ///< Back on the selected-image page returns to the load page
extern QString loadedImagePath; ///< the image chosen on the load page
extern bool dialogDragging; ///< a title-strip drag of some message dialog is under way

/// Scales a base length: single-precision product, truncated toward zero.
inline int scaled(int base)
{
    return static_cast<int>(static_cast<float>(base) * scaleFactor);
}
