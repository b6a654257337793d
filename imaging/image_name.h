#pragma once
/**
 * @file
 * The name of a new image file: the chosen folder, then
 * "Tape_Image_(" + date and time + ").tape".
 */
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace ImageName {

/// @p when as "ddd MMM dd yyyy hh-mm-ss" with the day and month names of
/// @p locale, and every ":" turned into "-" (some locales' abbreviations hold
/// one, and ":" is not allowed in file names everywhere).
QString timeStamp(const QDateTime &when, const QLocale &locale = QLocale::system());

/// @p folder exactly as the folder dialog gave it, then "/Tape_Image_(" +
/// @p stamp + ").tape". A root folder ("/" or "C:/") therefore gets a doubled
/// separator, which every file system accepts.
QString imagePath(const QString &folder, const QString &stamp);

} // namespace ImageName
