#pragma once
#include "scanner/core/restore_folder.h"
#include "scanner/core/scan_result.h"

#include <QSet>
#include <QStringList>

#include <functional>

namespace Quorlin {

/// What the extraction of one archive shares with the whole run.
struct RestoreRun
{
    RestoreFolder &folder;
    qint64 maxSize; ///< the most one archive may write (see sizeLimit)
    qint64 totalLimit; ///< the most the whole extraction may write
    std::function<void(qint64 bytes, const QByteArray &current)> advance;
    std::function<bool()> cancelled;
    QStringList problems;
    QStringList written; ///< what was made, as shownName() shows it, the folder left out
    /// For a damaged archive whose rest follows as a further archive: its
    /// entries' paths and the names they were written as, for hard links.
    QHash<QByteArray, QByteArray> placedBefore;
    qint64 totalWritten = 0;
    bool overTotal = false; ///< totalLimit was reached: nothing more is written
};

/**
 * Counts @p size more bytes written for @p name by archive @p index, which has written
 * @p written of the @p limit one archive may: empty when they fit within that and the
 * whole run's limit; else nothing is counted and the text says which limit stops it
 * (the run's marks run.overTotal).
 */
QString countWrite(
    RestoreRun &run, int index, qint64 &written, qint64 limit, qint64 size, const QByteArray &name);

/// Writes the entries @p entries of archive @p index below its folder
/// "archive-N". Hard links are made as links, also when their data lies with
/// an entry that was not chosen (tar keeps it with the first name, cpio newc
/// with the last). True when all of them were restored whole.
bool restoreArchive(const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run);

} // namespace Quorlin
