#pragma once

/// Maps "Segoe UI" and "Segoe UI Semibold" to an installed sans family when
/// they are missing, so the code can keep asking for them by name.
void installFontSubstitutes();
