#pragma once
/**
 * @file
 * "Image Size:  " + the size in units of 1024 with two decimals + the unit
 * text (" TB in disk", " GB in disk", " MB in disk" or " KB in disk").
 * Those words and the KB floor are the window's, fixed by its design; the
 * tools and the scanner say sizes the plain way, with human().
 */
#include <QString>
#include <QtGlobal>

namespace SizeText {

/// How the size is compared with 2^20, 2^30 and 2^40 to pick the unit. The
/// results differ only for sizes too large to be exact in a double; the
/// completion page compares integers, the load page doubles.
enum class Comparison { Integer, FloatingPoint };

/// The number and unit alone, e.g. "1.50 MB in disk".
QString amount(qint64 bytes, Comparison comparison = Comparison::Integer);

/// The window's number and unit without its words, e.g. "1.50 MB" (never bytes).
QString windowUnits(qint64 bytes);

/// Sizes for people outside the window: "1 byte", "500 bytes", "1.50 KB" up to "TB".
QString human(double bytes);

/// The whole line, e.g. "Image Size:  1.50 MB in disk".
QString imageSize(qint64 bytes, Comparison comparison = Comparison::Integer);

} // namespace SizeText
