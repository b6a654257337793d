#pragma once
/**
 * @file
 * What a drive told beyond its data (platform/backend/drive_facts.h), in the
 * words a person reads and as the run record's JSON. One place for both, so
 * that --drive-info, the messages of a run and its record say the same.
 */
#include "platform/backend/drive_facts.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace DriveWords {

/// "clean now, media"; "none" when no flag is set.
QString alertNames(const TapeAlertFacts &alerts);
/// "MEDIUM ERROR, unrecovered read error (11/00)".
QString senseText(const SenseFacts &sense);
/// "medium-error", "wrong-format", ...: the record's word for an action.
QString actionName(SenseAction action);

/// Why the drive's pages could not be read, with how to get access to @p facts.genericNode.
QString accessText(const DriveFacts &facts);

/// --drive-info's lines after the identity: limits, mode, TapeAlert, counters, cartridge.
QStringList describe(const DriveFacts &facts);

QJsonObject alertsJson(const TapeAlertFacts &alerts);
QJsonObject countersJson(const ErrorCounterFacts &counters);
QJsonObject senseJson(const ReadFailureFacts &failure);
/// Limits, density, compression and the cartridge, for the record's "drive" object.
QJsonObject factsJson(const DriveFacts &facts);

} // namespace DriveWords
