#pragma once
#include "scanner/core/decoder.h"
#include "scanner/core/scan_result.h"

#include <QHash>
#include <QPair>

#include <atomic>

namespace Quorlin {

/// What reading one archive found, beyond its listing.
struct ArchiveRead
{
    FoundArchive archive;
    qint64 damageAt = -1; ///< stream offset where reading broke off; -1 when whole
    qint64 endMarkerAt = -1; ///< plain tar: where its end-of-archive blocks begin
    /// A plain cpio broken off: where the next whole header lies, -1 when none
    /// (its headers need not sit where a tar's would).
    qint64 resumeAt = -1;
    /// Plain archives: where each entry's stored data lies in the stream.
    QVector<QPair<qint64, qint64>> dataSpans;
};

/// Reads the archive that starts at @p begin (its compression known to be
/// @p compression) and lists its entries. Returns false when no archive starts
/// there. When it is damaged, the listing says so and damageAt holds where.
bool readArchive(const ImageFacts &facts, qint64 begin, qint64 end, Compression compression,
    ArchiveRead *out, const std::atomic<bool> *cancel);

/// Marks @p read damaged from stream offset @p at on, and the entries whose
/// stored data reaches there, unless it broke off before.
void markDamage(ArchiveRead *read, const ImageFacts &facts, qint64 at, const QString &why);

/// Marks @p read damaged at [@p from, @p to), read all the same, and the entries
/// whose stored data lies there (a compressed archive's cannot be told).
void markDamageInside(
    ArchiveRead *read, const ImageFacts &facts, qint64 from, qint64 to, const QString &why);

/// Where the zip archive whose central directory starts at @p centralDirectory
/// ends: after its end-of-central-directory record. -1 when the records do not
/// lead there.
qint64 zipArchiveEnd(const ImageFacts &facts, qint64 centralDirectory, qint64 end);

/// The first whole cpio header in [@p from, @p end), or -1.
qint64 nextCpioHeader(const ImageFacts &facts, qint64 from, qint64 end);

/// The Unix modes, file type included, that the central directory of the zip
/// archive at [@p begin, @p end) gives its entries, by name as stored. Empty
/// when it cannot be found or the zip was not made on Unix.
QHash<QByteArray, uint> zipUnixModes(const ImageFacts &facts, qint64 begin, qint64 end);

} // namespace Quorlin
