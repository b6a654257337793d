#pragma once
#include "scanner/core/restore_folder.h"
#include "scanner/core/scan_result.h"

#include <QMap>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>

namespace Quorlin {

class BodyStream;

/// The largest labelled file also written as text.
constexpr qint64 labelledTextLimit = qint64(256) << 20;

/// What to write out: entries by archive index, raw regions by index.
struct Selection
{
    QMap<int, QSet<int>> entries;
    QSet<int> rawRegions;
    bool isEmpty() const { return entries.isEmpty() && rawRegions.isEmpty(); }
};

/// How an extraction restores: the metadata policy and the most one archive
/// may write, so a small compressed archive cannot fill the disk.
struct ExtractOptions : RestorePolicy
{
    static constexpr qint64 defaultMaxSize = qint64(4) << 30;
    qint64 maxSize = defaultMaxSize;
};

/// How many times an image's size a whole extraction may write when that is
/// more than the limit of one archive: headers that each claim much, cut short
/// one after the other, would otherwise write the square of the image.
constexpr qint64 totalSizeFactor = 4;

/// The most one extraction from the image @p facts describes may write.
qint64 totalSizeLimit(const ImageFacts &facts, qint64 maxSize);

/// The bytes of an entry's path as the archive holds them.
QByteArray entryPath(const FoundEntry &entry);

/// The name an item gets below the target folder: "archive-N/<entry path>"
/// (made safe: no absolute paths, no ".."; a folder with no name is
/// "archive-N" itself), or "raw-<image offset>.bin"
/// ("dump-<image offset>.bin" for a dump volume).
QByteArray entryOutputPath(int archiveIndex, const QByteArray &entryPath, bool folder = false);
/// The same as it is printed and shown (see shownName()).
QString entryOutputName(int archiveIndex, const FoundEntry &entry);
QString entryOutputName(int archiveIndex, const QString &entryPath);
QString rawRegionOutputName(const ImageFacts &facts, const RawRegion &region);

/// What @p entry is known to write: its size, unless damage cut its data short (a
/// size in such a header is not believed, one may claim a terabyte; what it writes
/// is bounded while it is written).
qint64 trustedSize(const FoundEntry &entry);
/// What extracting all of @p archive writes: the trusted sizes of its files.
qint64 expandedSize(const FoundArchive &archive);
/// The most @p archive may write: @p maxSize, or its own length when more
/// (an archive that is not compressed holds its data).
qint64 sizeLimit(const FoundArchive &archive, qint64 maxSize);

/// Everything whose output name, as shown, matches one of the wildcard
/// @p patterns (all of it when there are none). A pattern may also match the
/// entry path or its bare file name.
Selection selectMatching(const ScanResult &result, const QStringList &patterns);

/// Writes the selected items below @p folder, reading the image again, and
/// restores what the archives say of them (modes, times, links).
class Extractor
{
public:
    using Progress = std::function<void(qint64 done, qint64 total, const QString &current)>;

    Extractor(const ScanResult &result, const QString &folder,
        const ExtractOptions &options = ExtractOptions());
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setCancelFlag(const std::atomic<bool> *cancel) { m_cancel = cancel; }

    /// True when every selected item was restored whole. Problems (damaged
    /// entries written in part, files that could not be made) are listed in
    /// problems(); written() lists what was made, as shown names.
    bool run(const Selection &selection);
    QStringList problems() const { return m_problems; }
    QStringList written() const { return m_written; }

private:
    bool extractRaw(RestoreFolder &folder, const RawRegion &region);
    /// A labelled file of EBCDIC text records is also written as lines of text, NAME.txt.
    bool writeRecordsAsText(
        RestoreFolder &folder, BodyStream &image, const RawRegion &region, const QString &name);
    void advance(qint64 bytes, const QString &current);
    bool cancelled() const { return m_cancel && m_cancel->load(); }

    const ScanResult &m_result;
    QString m_folder;
    ExtractOptions m_options;
    Progress m_progress;
    const std::atomic<bool> *m_cancel = nullptr;
    qint64 m_done = 0;
    qint64 m_total = 0;
    QStringList m_problems;
    QStringList m_written;
};

} // namespace Quorlin
