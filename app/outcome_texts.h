#pragma once
/**
 * @file
 * What the window tells the user when an imaging run ends without an image:
 * the message box's heading and text for each outcome. The command line words
 * its own messages; these belong to the window's dialogs.
 */
#include "tape/imaging_driver.h"

#include <QString>

namespace OutcomeTexts {

/// A plain explanation of @p outcome for the user; empty for Completed and Abandoned.
QString message(Imaging::RunOutcome outcome);
/// A short heading for message().
QString title(Imaging::RunOutcome outcome);

} // namespace OutcomeTexts
