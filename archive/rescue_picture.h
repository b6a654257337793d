#pragma once
/**
 * @file
 * A picture of a rescue map: the tape as one strip, left to right, coloured by
 * the state of its objects (good, bad with data, bad with no data, not tried),
 * tape marks as ticks with the number of the tape file that starts there, and
 * a legend with the counts. Long stretches of one state are drawn shorter than
 * their share of the tape and every damaged stretch gets a width that can be
 * seen, so a person sees at once where the damage is, whatever the tape's size;
 * the file stays small (a few hundred shapes) for any number of objects.
 */
#include "archive/rescue_map.h"

#include <QByteArray>
#include <QString>

namespace Rescue {

/// The SVG picture of @p map, headed by @p title (a name; any text is escaped).
QByteArray picture(const Map &map, const QString &title);

/// Writes picture() to @p path (native bytes), replacing any file in one step;
/// false with the reason in @p error.
bool writePicture(const Map &map, const QString &title, const QByteArray &path, QString &error);

} // namespace Rescue
