#pragma once
/**
 * @file
 * The Win32 screen device-context calls the main window uses to find the
 * display density, answered from the primary screen.
 *
 * These live in the GUI library rather than in platform/ because the answer
 * needs Qt Gui (QScreen), and the platform layer is Qt Core only.
 */

using HWND = void *;
using HDC = void *;

/// Index of the horizontal logical pixels per inch for GetDeviceCaps().
constexpr int LOGPIXELSX = 88;

/**
 * Returns a device context for the whole screen when @p window is null (the
 * only use here). It stands for the primary screen; null when there is none.
 */
HDC GetDC(HWND window);

/**
 * For LOGPIXELSX: the primary screen's logical dots per inch, rounded to the
 * nearest integer (QT_FONT_DPI overrides what the display reports). 96 when
 * @p dc is null; 0 for any other index.
 */
int GetDeviceCaps(HDC dc, int index);

/// Releases a context from GetDC(); nothing to free here, always returns 1.
int ReleaseDC(HWND window, HDC dc);
