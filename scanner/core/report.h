#pragma once
#include "scanner/core/scan_result.h"

#include <QStringList>

namespace Quorlin {

/// "1.50 GB" style sizes for people; exact byte counts stay beside them.
QString humanSize(qint64 bytes);

/// The image's facts as label/value lines, shared by --list and the window.
QVector<QPair<QString, QString>> factLines(const ImageFacts &facts);

/// The text --list prints: facts, archives with their entries, raw regions.
QString listing(const ScanResult &result);

QString entryTypeLetter(const FoundEntry &entry);

} // namespace Quorlin
