#include "scanner/core/extractor.h"

#include "imaging/size_text.h"
#include "scanner/core/archive_restore.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/report.h"
#include "scanner/core/shown_name.h"
#include "scanner/core/tape_labels.h"
#include "scanner/core/tar_volumes.h"

#include <QRegularExpression>

#include <limits>

namespace Quorlin {
namespace {
constexpr qint64 copySize = 1 << 20;

/// A wildcard as a whole-name expression: "*" and "?" also match "/", so
/// "archive-2/*" is everything of archive 2; "[...]" is a set ("[!...]" not).
QRegularExpression wildcardExpression(const QString &pattern)
{
    QString expression;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        const int close = pattern.indexOf(QLatin1Char(']'), i + 2);
        if (c == QLatin1Char('*')) {
            expression += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            expression += QLatin1Char('.');
        } else if (c == QLatin1Char('[') && close > 0) {
            QString set = pattern.mid(i + 1, close - i - 1)
                              .replace(QLatin1Char('\\'), QLatin1String("\\\\"));
            if (set.startsWith(QLatin1Char('!')))
                set[0] = QLatin1Char('^');
            expression += QLatin1Char('[') + set + QLatin1Char(']');
            i = close;
        } else {
            expression += QRegularExpression::escape(c);
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
        QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

QByteArray entryPath(const FoundEntry &entry)
{
    return entry.rawPath.isEmpty() ? entry.path.toUtf8() : entry.rawPath;
}

QByteArray entryOutputPath(int archiveIndex, const QByteArray &entryPath, bool folder)
{
    // Archive paths are data from a tape: keep them inside the target folder.
    QByteArray name = "archive-" + QByteArray::number(archiveIndex + 1);
    name.reserve(name.size() + entryPath.size() + 1);
    bool empty = true;
    // Part by part without a list of them: a path thousands of folders deep comes often.
    for (int begin = 0; begin <= entryPath.size();) {
        int end = entryPath.indexOf('/', begin);
        if (end < 0)
            end = entryPath.size();
        const int length = end - begin;
        const char *part = entryPath.constData() + begin;
        begin = end + 1;
        if (length == 0 || (length == 1 && part[0] == '.')
            || (length == 2 && part[0] == '.' && part[1] == '.'))
            continue;
        name.append('/').append(part, length);
        empty = false;
    }
    return empty && !folder ? name + "/unnamed" : name;
}

QString entryOutputName(int archiveIndex, const FoundEntry &entry)
{
    return shownName(
        entryOutputPath(archiveIndex, entryPath(entry), entry.type == FoundEntry::Directory));
}

QString entryOutputName(int archiveIndex, const QString &entryPath)
{
    return shownName(entryOutputPath(archiveIndex, entryPath.toUtf8()));
}

QString rawRegionOutputName(const ImageFacts &facts, const RawRegion &region)
{
    if (!region.name.isEmpty()) { // a labelled file, under its label's name, in the folder
        QString name = region.name;
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return name.startsWith(QLatin1Char('.')) ? QLatin1Char('_') + name : name;
    }
    // In a further image of a set, its offset is one in that image: the name says which.
    const int volume = facts.layout ? facts.layout->volumeAt(region.offset) : 0;
    return QStringLiteral("%1-%2%3.bin")
        .arg(region.kind.isEmpty() ? QStringLiteral("raw") : region.kind,
            volume > 0 ? QStringLiteral("v%1-").arg(volume + 1) : QString())
        .arg(facts.imageOffset(region.offset));
}

qint64 trustedSize(const FoundEntry &entry)
{
    return entry.damaged && entry.unreadableAt < 0 ? 0 : entry.size;
}

qint64 expandedSize(const FoundArchive &archive)
{
    qint64 size = 0;
    for (const FoundEntry &entry : archive.entries)
        size += trustedSize(entry);
    return size;
}

qint64 sizeLimit(const FoundArchive &archive, qint64 maxSize)
{
    return std::max(maxSize, archive.length);
}

qint64 totalSizeLimit(const ImageFacts &facts, qint64 maxSize)
{
    const qint64 image = std::max(facts.fileSize, facts.streamLength);
    return std::max(maxSize,
        image > std::numeric_limits<qint64>::max() / totalSizeFactor
            ? std::numeric_limits<qint64>::max()
            : image * totalSizeFactor);
}

Selection selectMatching(const ScanResult &result, const QStringList &patterns)
{
    QVector<QRegularExpression> expressions;
    for (const QString &pattern : patterns)
        expressions.append(wildcardExpression(pattern));
    auto matches = [&](const QString &name, const QString &alone) {
        if (expressions.isEmpty())
            return true;
        // A name is also tried without its folders: "x.c" finds every x.c.
        const QString fileName = alone.section(QLatin1Char('/'), -1);
        for (const QRegularExpression &expression : expressions) {
            if (expression.match(name).hasMatch() || expression.match(alone).hasMatch()
                || expression.match(fileName).hasMatch())
                return true;
        }
        return false;
    };
    Selection selection;
    for (int a = 0; a < result.archives.size(); ++a) {
        const auto &entries = result.archives[a].entries;
        for (int e = 0; e < entries.size(); ++e) {
            if (expressions.isEmpty()
                || matches(entryOutputName(a, entries[e]), shownName(entryPath(entries[e]))))
                selection.entries[a].insert(e);
        }
    }
    for (int r = 0; r < result.rawRegions.size(); ++r) {
        const QString name = rawRegionOutputName(result.facts, result.rawRegions[r]);
        if (matches(name, name))
            selection.rawRegions.insert(r);
    }
    return selection;
}

Extractor::Extractor(const ScanResult &result, const QString &folder, const ExtractOptions &options)
    : m_result(result)
    , m_folder(folder)
    , m_options(options)
{
}

bool Extractor::run(const Selection &selection)
{
    m_total = 0;
    for (auto it = selection.entries.cbegin(); it != selection.entries.cend(); ++it) {
        for (int e : it.value())
            m_total += trustedSize(m_result.archives.value(it.key()).entries.value(e));
    }
    for (int r : selection.rawRegions)
        m_total += m_result.rawRegions.value(r).length;
    RestoreFolder folder(m_options);
    if (!folder.open(m_folder)) {
        m_problems.append(folder.errorString());
        return false;
    }
    RestoreRun run { folder, m_options.maxSize, totalSizeLimit(m_result.facts, m_options.maxSize),
        [this](qint64 bytes, const QByteArray &current) {
            // Only a progress display needs the name as shown.
            advance(bytes, m_progress ? shownName(current) : QString());
        },
        [this] { return cancelled(); }, {}, {}, {} };
    // A member split over tape volumes is written from its parts, not as each part.
    Selection chosen = selection;
    QVector<const SplitMember *> joined;
    for (const SplitMember &member : m_result.splitMembers) {
        bool wanted = chosen.entries.value(member.archive).contains(member.entry);
        for (const auto &piece : member.continuations)
            wanted = wanted || chosen.entries.value(piece.first).contains(piece.second);
        if (!wanted)
            continue;
        joined.append(&member);
        chosen.entries[member.archive].remove(member.entry);
        for (const auto &piece : member.continuations)
            chosen.entries[piece.first].remove(piece.second);
    }
    for (auto it = chosen.entries.begin(); it != chosen.entries.end();)
        it = it.value().isEmpty() ? chosen.entries.erase(it) : std::next(it);
    bool whole = true;
    for (const SplitMember *member : qAsConst(joined)) {
        if (!cancelled() && !run.overTotal)
            whole = restoreSplitMember(m_result, *member, run) && whole;
    }
    for (auto it = chosen.entries.cbegin();
         it != chosen.entries.cend() && !cancelled() && !run.overTotal; ++it) {
        whole = restoreArchive(m_result, it.key(), it.value(), run) && whole;
        // Hard links across the damage reach only into the archive just before.
        const FoundArchive next = m_result.archives.value(it.key() + 1);
        if (!next.continuation && !next.volumeJoined)
            run.placedBefore.clear();
    }
    m_problems += run.problems;
    const QString folderShown = shownName(m_folder) + QLatin1Char('/');
    for (const QString &name : qAsConst(run.written))
        m_written.append(folderShown + name);
    qint64 total = run.totalWritten;
    for (int r : selection.rawRegions) {
        if (cancelled() || run.overTotal)
            break;
        const RawRegion &region = m_result.rawRegions.value(r);
        if (total + region.length > run.totalLimit) {
            m_problems.append(QStringLiteral("%1: not written, the extraction may write %2 in "
                                             "all (raise the limit with --max-size)")
                                  .arg(rawRegionOutputName(m_result.facts, region),
                                      SizeText::human(run.totalLimit)));
            whole = false;
            continue;
        }
        total += region.length;
        whole = extractRaw(folder, region) && whole;
    }
    whole = whole && !run.overTotal;
    // Folders get their times last: writing into them changed them.
    if (!folder.finishFolders()) {
        m_problems.append(folder.errorString());
        whole = false;
    }
    int escaped = 0;
    const QByteArray map = folder.writeNameMap(&escaped);
    if (escaped > 0 && map.isEmpty()) {
        m_problems.append(folder.errorString());
        whole = false;
    } else if (escaped > 0) {
        const QString why = folder.refusingFileSystem() == QLatin1String("--escape-names")
            ? QStringLiteral("As asked with --escape-names")
            : folder.refusingFileSystem().isEmpty()
            ? QStringLiteral("The folder's file system refused some of the names when they "
                             "were made (too long, or bytes it does not take)")
            : QStringLiteral("The folder's file system (%1) refuses some of the names")
                  .arg(folder.refusingFileSystem());
        m_problems.append(QStringLiteral("%1: %2 name(s) written with %XX for the bytes vfat "
                                         "and NTFS refuse; %3 maps them to the names in the "
                                         "archives.")
                              .arg(why)
                              .arg(escaped)
                              .arg(shownName(m_folder) + QLatin1Char('/') + shownName(map)));
    }
    if (folder.ownersNotKept()) {
        m_problems.append(QStringLiteral("Owners and groups were not kept: only root may give "
                                         "files to others, so they belong to whoever extracted "
                                         "them."));
        whole = false;
    }
    if (cancelled()) {
        m_problems.append(QStringLiteral("Extraction cancelled."));
        return false;
    }
    return whole;
}

bool Extractor::extractRaw(RestoreFolder &folder, const RawRegion &region)
{
    const QString name = rawRegionOutputName(m_result.facts, region);
    BodyStream image(m_result.facts);
    if (!image.open()) {
        m_problems.append(QStringLiteral("%1: %2").arg(name, image.errorString()));
        return false;
    }
    RestoreFile out = folder.create(name.toUtf8(), 0644);
    if (!out.isOpen()) {
        m_problems.append(folder.errorString());
        return false;
    }
    QByteArray buffer(static_cast<int>(std::min(copySize, region.length)), Qt::Uninitialized);
    for (qint64 done = 0; done < region.length;) {
        if (cancelled())
            return false;
        const qint64 got = image.readAt(region.offset + done, buffer.data(),
            std::min<qint64>(buffer.size(), region.length - done));
        if (got <= 0 || !out.write(buffer.constData(), got, done)) {
            m_problems.append(QStringLiteral("%1: %2").arg(
                name, got <= 0 ? image.errorString() : out.errorString()));
            return false;
        }
        done += got;
        advance(got, name);
    }
    EntryMetadata metadata;
    metadata.mode = 0644;
    const QByteArray used = folder.place(out, metadata);
    if (used.isEmpty()) {
        m_problems.append(folder.errorString());
        return false;
    }
    m_written.append(shownName(m_folder) + QLatin1Char('/') + shownName(used));
    if (region.name.endsWith(QLatin1String(".damaged"))) {
        m_problems.append(QStringLiteral("%1: %2").arg(shownName(used), region.label));
        return false;
    }
    return region.recordFormat == 0 || region.length > labelledTextLimit
        || writeRecordsAsText(folder, image, region, name);
}

bool Extractor::writeRecordsAsText(
    RestoreFolder &folder, BodyStream &image, const RawRegion &region, const QString &name)
{
    QByteArray data(int(region.length), Qt::Uninitialized);
    if (image.readAt(region.offset, data.data(), region.length) != region.length)
        return true; // the file itself was written; its text is only offered
    const QByteArray text = labelledText(region, data);
    if (text.isEmpty())
        return true;
    RestoreFile out = folder.create((name + QStringLiteral(".txt")).toUtf8(), 0644);
    EntryMetadata metadata;
    metadata.mode = 0644;
    const QByteArray used = out.isOpen() && out.write(text.constData(), text.size(), 0)
        ? folder.place(out, metadata)
        : QByteArray();
    if (used.isEmpty()) {
        m_problems.append(folder.errorString());
        return false;
    }
    m_written.append(shownName(m_folder) + QLatin1Char('/') + shownName(used));
    return true;
}

void Extractor::advance(qint64 bytes, const QString &current)
{
    m_done += bytes;
    if (m_progress)
        m_progress(m_done, m_total, current);
}

} // namespace Quorlin
