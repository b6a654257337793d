#pragma once
/**
 * @file
 * The batch's summaries for people and scripts: library.csv (one line per
 * cartridge, for a spreadsheet) and library.json (one object per cartridge),
 * both from the latest attempt of each cartridge in the journal.
 */
#include "archive/library_journal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace Library {

/// The field names, in the order both summaries give them.
QStringList summaryFields();

/// A header line and one line per attempt; quoted where a field needs it, lines ended by CRLF.
QByteArray summaryCsv(const std::vector<Attempt> &attempts);
/// An array of objects: counts as numbers, errors as an array, null for what is not known.
QByteArray summaryJson(const std::vector<Attempt> &attempts);

} // namespace Library
