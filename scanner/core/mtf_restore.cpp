#include "imaging/size_text.h"
#include "scanner/core/archive_restore.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/extractor.h"
#include "scanner/core/mtf_reader.h"
#include "scanner/core/shown_name.h"

namespace Quorlin {
namespace {

constexpr qint64 copySize = 1 << 20;

/// One set's entries, each written from the pieces the walk found for it.
class SetRestore
{
public:
    SetRestore(const ScanResult &result, int index, RestoreRun &run)
        : m_archive(result.archives.at(index))
        , m_index(index)
        , m_run(run)
        , m_stream(result.facts)
    {
    }

    bool run(const QSet<int> &selected)
    {
        if (!m_stream.open())
            return problem(
                QStringLiteral("Archive %1: %2").arg(m_index + 1).arg(m_stream.errorString()));
        bool whole = true;
        if (m_archive.damaged) {
            problem(QStringLiteral("Archive %1 is damaged: %2")
                        .arg(m_index + 1)
                        .arg(shownName(m_archive.note)));
            whole = false;
        }
        for (int e = 0; e < m_archive.entries.size(); ++e) {
            if (!selected.contains(e))
                continue;
            if (m_run.cancelled() || m_run.overTotal)
                return false;
            whole = restore(m_archive.entries[e]) && whole;
        }
        return whole;
    }

private:
    bool problem(const QString &text)
    {
        m_run.problems.append(text);
        return false;
    }

    bool restore(const FoundEntry &entry)
    {
        const bool folder = entry.type == FoundEntry::Directory;
        const QByteArray name = entryOutputPath(m_index, entryPath(entry), folder);
        EntryMetadata metadata;
        metadata.mode = uint(entry.mode >= 0 ? entry.mode : folder ? 0755 : 0644);
        metadata.hasMtime = entry.mtime != 0;
        metadata.mtime = entry.mtime;
        if (folder)
            return m_run.folder.makeFolder(name, metadata) || problem(m_run.folder.errorString());
        qint64 size = entry.size;
        if (entry.damaged) {
            size = 0;
            for (const FoundEntry::Piece &piece : entry.pieces)
                size = std::max(size, piece.fileOffset + piece.length);
        }
        if (size > std::max(m_run.maxSize, m_archive.length))
            return problem(
                QStringLiteral("%1: not written, it would write %2, more than the %3 "
                               "one archive may write")
                    .arg(shownName(name), SizeText::human(size), SizeText::human(m_run.maxSize)));
        if (m_run.totalWritten + size > m_run.totalLimit) {
            m_run.overTotal = true;
            return problem(QStringLiteral("%1: not written, the extraction may write %2 in all "
                                          "(raise the limit with --max-size)")
                               .arg(shownName(name), SizeText::human(m_run.totalLimit)));
        }
        RestoreFile out = m_run.folder.create(name, metadata.mode);
        if (!out.isOpen())
            return problem(m_run.folder.errorString());
        QByteArray buffer;
        for (const FoundEntry::Piece &piece : entry.pieces) {
            for (qint64 done = 0; done < piece.length;) {
                if (m_run.cancelled())
                    return false;
                const qint64 step = std::min(copySize, piece.length - done);
                buffer.resize(int(step));
                const qint64 got = m_stream.readAt(piece.streamOffset + done, buffer.data(), step);
                if (got <= 0 || !out.write(buffer.constData(), got, piece.fileOffset + done))
                    return problem(QStringLiteral("%1: %2").arg(
                        shownName(name), got <= 0 ? m_stream.errorString() : out.errorString()));
                done += got;
                m_run.advance(got, name);
            }
        }
        if (!out.setLength(size))
            return problem(QStringLiteral("%1: %2").arg(shownName(name), out.errorString()));
        m_run.totalWritten += size;
        const QByteArray used = m_run.folder.place(
            out, metadata, entry.damaged ? QByteArray(".damaged") : QByteArray());
        if (used.isEmpty())
            return problem(m_run.folder.errorString());
        m_run.written.append(shownName(used));
        if (entry.damaged)
            return problem(QStringLiteral("%1: damaged: %2; written as %3")
                               .arg(shownName(name), entry.note, shownName(used)));
        if (!entry.note.isEmpty()) // kept as stored, not as the file it was
            return problem(QStringLiteral("%1: %2").arg(shownName(used), entry.note));
        return true;
    }

    const FoundArchive &m_archive;
    const int m_index;
    RestoreRun &m_run;
    BodyStream m_stream;
};

} // namespace

bool restoreMtfSet(const ScanResult &result, int index, const QSet<int> &entries, RestoreRun &run)
{
    return SetRestore(result, index, run).run(entries);
}

} // namespace Quorlin
