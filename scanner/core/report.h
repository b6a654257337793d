#pragma once
#include "scanner/core/extractor.h"
#include "scanner/core/scan_result.h"

#include <QStringList>

namespace Quorlin {

/// The image's facts as label/value lines, shared by --list and the window.
QVector<QPair<QString, QString>> factLines(const ImageFacts &facts);

/// The text --list prints: facts, archives with their entries, raw regions.
/// @p maxSize is the most one archive may write (see sizeLimit()).
QString listing(const ScanResult &result, qint64 maxSize = ExtractOptions::defaultMaxSize);

/// One sentence on what the scan found: archives, files, damage, raw data.
QString summary(const ScanResult &result);
bool hasDamage(const ScanResult &result);

/// Short notes for a list row: what is wrong with archive @p index, and what
/// raw region @p index is (it starts where a damaged archive breaks off, or
/// it is data that was not recognised).
QString archiveNote(const ScanResult &result, int index);
QString rawRegionNote(const ScanResult &result, int index);

/// What extracting archive @p archive writes, how much larger that is than
/// the archive when it is compressed, and whether it is over the limit.
QString expansionNote(const FoundArchive &archive, qint64 maxSize);

/// What is wrong with @p entry's data: cut short, or whole in length but holding
/// unreadable bytes. Empty when it is not damaged.
QString entryDamageNote(const ImageFacts &facts, const FoundEntry &entry);

/// A link's target, as shown.
QString linkTargetName(const FoundEntry &entry);

QString entryTypeLetter(const FoundEntry &entry);

/// The size of @p entry's content: a hard link's is what the name that stores it holds.
qint64 contentSize(const FoundArchive &archive, const FoundEntry &entry);

} // namespace Quorlin
