#include "scanner/core/extractor.h"

#include "scanner/core/archive_stream.h"
#include "scanner/core/body_stream.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <archive.h>
#include <archive_entry.h>

namespace Quorlin {
namespace {
constexpr qint64 copySize = 4 << 20;
}

QString entryOutputName(int archiveIndex, const QString &entryPath)
{
    // Archive paths are data from a tape: keep them inside the target folder.
    QStringList parts;
    for (const QString &part : entryPath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            continue;
        parts.append(part);
    }
    if (parts.isEmpty())
        parts.append(QStringLiteral("unnamed"));
    return QStringLiteral("archive-%1/").arg(archiveIndex + 1) + parts.join(QLatin1Char('/'));
}

QString rawRegionOutputName(const ImageFacts &facts, const RawRegion &region)
{
    return QStringLiteral("raw-%1.bin").arg(facts.imageOffset(region.offset));
}

Selection selectMatching(const ScanResult &result, const QStringList &patterns)
{
    QVector<QRegularExpression> expressions;
    for (const QString &pattern : patterns)
        expressions.append(QRegularExpression(QRegularExpression::anchoredPattern(
            QRegularExpression::wildcardToRegularExpression(pattern))));
    auto matches = [&](const QString &name, const QString &alone) {
        if (expressions.isEmpty())
            return true;
        // "*" stops at "/", so a pattern is also tried on the bare file name.
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
            if (matches(entryOutputName(a, entries[e].path), entries[e].path))
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

Extractor::Extractor(const ScanResult &result, const QString &folder)
    : m_result(result)
    , m_folder(folder)
{
}

bool Extractor::run(const Selection &selection)
{
    m_total = 0;
    for (auto it = selection.entries.cbegin(); it != selection.entries.cend(); ++it) {
        for (int e : it.value())
            m_total += m_result.archives.value(it.key()).entries.value(e).size;
    }
    for (int r : selection.rawRegions)
        m_total += m_result.rawRegions.value(r).length;
    if (!QDir().mkpath(m_folder)) {
        m_problems.append(QStringLiteral("Cannot create the folder %1").arg(m_folder));
        return false;
    }
    bool whole = true;
    for (auto it = selection.entries.cbegin(); it != selection.entries.cend() && !cancelled(); ++it)
        whole = extractArchive(it.key(), it.value()) && whole;
    for (int r : selection.rawRegions) {
        if (cancelled())
            break;
        whole = extractRaw(m_result.rawRegions.value(r)) && whole;
    }
    if (cancelled()) {
        m_problems.append(QStringLiteral("Extraction cancelled."));
        return false;
    }
    return whole;
}

bool Extractor::extractArchive(int index, const QSet<int> &entries)
{
    const FoundArchive &found = m_result.archives.at(index);
    ArchiveStream stream(m_result.facts, found.offset, m_result.facts.streamLength);
    archive *reader = stream.handle();
    archive_entry *entry = nullptr;
    // Whatever is picked from a damaged archive, the user must hear that it was damaged.
    bool whole = !found.damaged;
    if (found.damaged)
        m_problems.append(QStringLiteral("Archive %1 is damaged: files stored in its damaged part "
                                         "could not be written.")
                              .arg(index + 1));
    int remaining = entries.size();
    // The scan listed the entries in this order; read them again the same way.
    for (int e = 0; e < found.entries.size() && remaining > 0 && !cancelled(); ++e) {
        const int status
            = stream.isOpen() ? archive_read_next_header(reader, &entry) : ARCHIVE_FATAL;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            m_problems.append(QStringLiteral("Archive %1 could not be read again: %2")
                                  .arg(index + 1)
                                  .arg(stream.errorString()));
            return false;
        }
        if (!entries.contains(e))
            continue;
        --remaining;
        const FoundEntry &listed = found.entries.at(e);
        const QString target = m_folder + QLatin1Char('/') + entryOutputName(index, listed.path);
        whole = writeEntry(reader, listed, target) && whole;
    }
    return whole;
}

bool Extractor::writeEntry(archive *reader, const FoundEntry &entry, const QString &target)
{
    if (entry.type == FoundEntry::Directory)
        return QDir().mkpath(target);
    const QString path = uniqueTarget(target);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (entry.type == FoundEntry::Hardlink) {
        const QString source = m_linkSources.value(entry.linkTarget);
        if (!source.isEmpty() && QFile::copy(source, path)) {
            m_written.append(path);
            return true;
        }
        m_problems.append(QStringLiteral("%1: a link to %2, which was not extracted")
                              .arg(entry.path, entry.linkTarget));
        return false;
    }
    if (entry.type != FoundEntry::File) {
        // Symbolic links and devices are not recreated: a link could lead a
        // later entry out of the target folder.
        m_problems.append(QStringLiteral("%1: not a regular file, not extracted").arg(entry.path));
        return false;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        m_problems.append(QStringLiteral("%1: %2").arg(path, out.errorString()));
        return false;
    }
    const void *block;
    size_t size;
    la_int64_t offset;
    int status;
    qint64 written = 0;
    while ((status = archive_read_data_block(reader, &block, &size, &offset)) == ARCHIVE_OK) {
        // Sparse entries leave gaps; seeking past the end makes them zeros.
        if ((out.pos() != offset && !out.seek(offset))
            || out.write(static_cast<const char *>(block), static_cast<qint64>(size))
                != static_cast<qint64>(size)) {
            m_problems.append(QStringLiteral("%1: %2").arg(path, out.errorString()));
            return false;
        }
        written += static_cast<qint64>(size);
        advance(static_cast<qint64>(size), entry.path);
        if (cancelled())
            return false;
    }
    if (status == ARCHIVE_EOF && out.size() < entry.size)
        out.resize(entry.size);
    out.flush();
    if (entry.mtime > 0)
        out.setFileTime(
            QDateTime::fromSecsSinceEpoch(entry.mtime), QFileDevice::FileModificationTime);
    out.close();
    m_written.append(path);
    m_linkSources.insert(entry.path, path);
    if (status != ARCHIVE_EOF || entry.damaged) {
        m_problems.append(QStringLiteral("%1: damaged, only the first %2 bytes were written")
                              .arg(entry.path)
                              .arg(written));
        return false;
    }
    return true;
}

bool Extractor::extractRaw(const RawRegion &region)
{
    const QString name = rawRegionOutputName(m_result.facts, region);
    BodyStream image(m_result.facts);
    QFile out(uniqueTarget(m_folder + QLatin1Char('/') + name));
    if (!image.open()) {
        m_problems.append(QStringLiteral("%1: %2").arg(name, image.errorString()));
        return false;
    }
    if (!out.open(QIODevice::WriteOnly)) {
        m_problems.append(QStringLiteral("%1: %2").arg(out.fileName(), out.errorString()));
        return false;
    }
    QByteArray buffer(static_cast<int>(std::min(copySize, region.length)), Qt::Uninitialized);
    for (qint64 done = 0; done < region.length && !cancelled();) {
        const qint64 got = image.readAt(region.offset + done, buffer.data(),
            std::min<qint64>(buffer.size(), region.length - done));
        if (got <= 0 || out.write(buffer.constData(), got) != got) {
            m_problems.append(QStringLiteral("%1: %2").arg(
                name, got <= 0 ? image.errorString() : out.errorString()));
            return false;
        }
        done += got;
        advance(got, name);
    }
    m_written.append(out.fileName());
    return true;
}

QString Extractor::uniqueTarget(const QString &name) const
{
    // Never overwrite what is already in the folder, e.g. an earlier extraction.
    if (!QFileInfo::exists(name))
        return name;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1.%2").arg(name).arg(n);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

void Extractor::advance(qint64 bytes, const QString &current)
{
    m_done += bytes;
    if (m_progress)
        m_progress(m_done, m_total, current);
}

} // namespace Quorlin
