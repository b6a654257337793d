#pragma once
#include "scanner/core/scan_result.h"

#include <QMap>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>

struct archive;

namespace Quorlin {

/// What to write out: entries by archive index, raw regions by index.
struct Selection
{
    QMap<int, QSet<int>> entries;
    QSet<int> rawRegions;
    bool isEmpty() const { return entries.isEmpty() && rawRegions.isEmpty(); }
};

/// The name an item gets below the target folder: "archive-N/<entry path>"
/// (made safe: no absolute paths, no ".."), or "raw-<image offset>.bin".
QString entryOutputName(int archiveIndex, const QString &entryPath);
QString rawRegionOutputName(const ImageFacts &facts, const RawRegion &region);

/// Everything whose output name matches one of the wildcard @p patterns (all
/// of it when there are none). A pattern may also match the entry path or
/// its bare file name.
Selection selectMatching(const ScanResult &result, const QStringList &patterns);

/// Writes the selected items below @p folder, reading the image again.
class Extractor
{
public:
    using Progress = std::function<void(qint64 done, qint64 total, const QString &current)>;

    Extractor(const ScanResult &result, const QString &folder);
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setCancelFlag(const std::atomic<bool> *cancel) { m_cancel = cancel; }

    /// True when every selected item was written whole. Problems (damaged
    /// entries written in part, files that could not be created) are listed
    /// in problems(); written() lists the files made.
    bool run(const Selection &selection);
    QStringList problems() const { return m_problems; }
    QStringList written() const { return m_written; }

private:
    bool extractArchive(int index, const QSet<int> &entries);
    bool writeEntry(archive *reader, const FoundEntry &entry, const QString &target);
    bool extractRaw(const RawRegion &region);
    QString uniqueTarget(const QString &name) const;
    void advance(qint64 bytes, const QString &current);
    bool cancelled() const { return m_cancel && m_cancel->load(); }

    const ScanResult &m_result;
    QString m_folder;
    Progress m_progress;
    const std::atomic<bool> *m_cancel = nullptr;
    qint64 m_done = 0;
    qint64 m_total = 0;
    QMap<QString, QString> m_linkSources; ///< archive path -> written file, for hard links
    QStringList m_problems;
    QStringList m_written;
};

} // namespace Quorlin
