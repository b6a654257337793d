#include "scanner/core/amanda_parts.h"

#include "scanner/core/amanda_header.h"
#include "scanner/core/archive_reader.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace Quorlin {
namespace {

constexpr qint64 headerLineLength = 4096; ///< where the first line of a header must end
constexpr qint64 compareStep = 1 << 20;

struct Part
{
    int region = -1; ///< its header's raw region
    AmandaPart header;
    qint64 dataStart = 0;
    qint64 dataEnd = 0; ///< -1 when where its tape file ends is not known
};

/// Appends the stream bytes [begin, end) of @p from to @p to, record by record where
/// they lie in records, so reading @p to reads those bytes of the image.
void appendSlice(RecordLayout *to, const RecordLayout &from, qint64 begin, qint64 end)
{
    const qint64 shift = to->streamLength() - begin;
    for (qint64 pos = begin; pos < end;) {
        const RecordLayout::Run &run = from.runAt(pos);
        const qint64 within = pos - run.streamStart;
        const qint64 whole = within % run.dataLength == 0
            ? std::min(run.count - within / run.dataLength, (end - pos) / run.dataLength)
            : 0;
        if (whole > 0) {
            to->append(
                { 0, from.imageOffset(pos), run.dataLength, run.stride, whole, run.unreadable });
            pos += whole * run.dataLength;
            continue;
        }
        const qint64 length = std::min(
            { run.dataLength - within % run.dataLength, end - pos, run.streamEnd() - pos });
        if (length <= 0)
            break;
        to->append({ 0, from.imageOffset(pos), length, length, 1, run.unreadable });
        pos += length;
    }
    for (const RecordLayout::Run &span : from.unreadableIn(begin, end))
        to->markUnreadable(
            std::max(span.streamStart, begin) + shift, std::min(span.streamEnd(), end) + shift);
}

/// Where the data behind a part's header ends: at its tape file's tape mark; -1 when
/// the image does not tell where that lies. @p next is where the next header starts.
qint64 partEnd(const ImageFacts &facts, BodyStream &stream, qint64 dataStart, qint64 next)
{
    const RecordLayout &layout = *facts.layout;
    const qint64 end = std::min(layout.tapeFileEnd(dataStart), next);
    if (layout.tapeMarksKnown())
        return end;
    for (const qint64 mark : facts.recordedTapeMarks) {
        const qint64 at = layout.streamOffsetAt(mark);
        if (at >= dataStart && at <= end)
            return at;
    }
    if (end >= stream.length())
        return end; // the last tape file: its archive's own end says where it stops
    // The tape mark is a record of zeros, the last record before the next header.
    if (!layout.recordsKnown())
        return -1;
    const qint64 record = layout.recordStart(end - 1);
    QByteArray bytes(int(std::min<qint64>(end - record, 1 << 24)), Qt::Uninitialized);
    if (record < dataStart || layout.recordEnd(record) != end
        || stream.readAt(record, bytes.data(), bytes.size()) != end - record
        || !allZero(
            reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size())))
        return -1;
    return record;
}

bool sameBytes(BodyStream &stream, const Part &a, const Part &b)
{
    const qint64 length = a.dataEnd - a.dataStart;
    if (length != b.dataEnd - b.dataStart)
        return false;
    QByteArray x(int(std::min(compareStep, length)), Qt::Uninitialized);
    QByteArray y(x.size(), Qt::Uninitialized);
    for (qint64 done = 0; done < length; done += x.size()) {
        const qint64 step = std::min<qint64>(x.size(), length - done);
        if (stream.readAt(a.dataStart + done, x.data(), step) != step
            || stream.readAt(b.dataStart + done, y.data(), step) != step
            || std::memcmp(x.constData(), y.constData(), std::size_t(step)) != 0)
            return false;
    }
    return true;
}

class Join
{
public:
    Join(ScanResult &result, BodyStream &stream, const std::atomic<bool> *cancel)
        : m_result(result)
        , m_stream(stream)
        , m_cancel(cancel)
    {
    }

    void run()
    {
        QStringList order;
        QHash<QString, QVector<Part>> dumps;
        for (const Part &part : findParts()) {
            if (!dumps.contains(part.header.dump))
                order.append(part.header.dump);
            dumps[part.header.dump].append(part);
        }
        for (const QString &dump : qAsConst(order))
            join(dumps[dump]);
        dropReplaced();
    }

private:
    QVector<Part> findParts()
    {
        QVector<Part> parts;
        QByteArray line(int(headerLineLength), Qt::Uninitialized);
        for (int r = 0; r < m_result.rawRegions.size(); ++r) {
            const RawRegion &region = m_result.rawRegions.at(r);
            if (region.kind != QLatin1String("amanda"))
                continue;
            const qint64 got = m_stream.readAt(region.offset, line.data(), line.size());
            Part part;
            part.region = r;
            part.header = amandaPart(reinterpret_cast<const unsigned char *>(line.constData()),
                std::size_t(std::max<qint64>(got, 0)));
            if (!part.header.valid || part.header.number == 0)
                continue;
            part.dataStart = region.offset + region.length;
            qint64 next = m_stream.length();
            for (int n = r + 1; n < m_result.rawRegions.size(); ++n) {
                if (m_result.rawRegions.at(n).kind == QLatin1String("amanda")) {
                    next = m_result.rawRegions.at(n).offset;
                    break;
                }
            }
            part.dataEnd = partEnd(m_result.facts, m_stream, part.dataStart, next);
            parts.append(part);
        }
        return parts;
    }

    void label(const Part &part, const QString &text)
    {
        QString &label = m_result.rawRegions[part.region].label;
        label += (label.isEmpty() ? QString() : QStringLiteral("; ")) + text;
    }

    void join(QVector<Part> parts)
    {
        std::stable_sort(parts.begin(), parts.end(),
            [](const Part &a, const Part &b) { return a.header.number < b.header.number; });
        int total = 0;
        for (const Part &part : qAsConst(parts))
            total = std::max(total, part.header.total);
        if (parts.size() == 1 && parts.first().header.number == 1 && total <= 1)
            return; // a dump in one part
        QVector<Part> joined;
        QString broken; ///< why the join stops before the dump's end
        for (const Part &part : qAsConst(parts)) {
            if (!broken.isEmpty())
                break;
            if (part.dataEnd < 0) {
                broken = QStringLiteral("where the tape file of part %1 ends is not known")
                             .arg(part.header.number);
            } else if (!joined.isEmpty() && part.header.number == joined.last().header.number) {
                if (sameBytes(m_stream, joined.last(), part))
                    label(part,
                        QStringLiteral("part %1 again, alike: joined once")
                            .arg(part.header.number));
                else // which of the two holds the dump is not known: neither is joined
                    broken = QStringLiteral("part %1 is on the tape twice, with other bytes")
                                 .arg(joined.takeLast().header.number);
            } else if (part.header.number != joined.size() + 1) {
                broken = missing(joined.size() + 1, part.header.number - 1);
            } else {
                joined.append(part);
            }
        }
        if (broken.isEmpty() && total > joined.size())
            broken = missing(joined.size() + 1, total);
        if (joined.isEmpty()) {
            const QString why = broken.isEmpty() ? missing(1, 1) : broken;
            for (const Part &part : qAsConst(parts))
                label(part, why + QStringLiteral(": the data of this part is kept as found"));
            return;
        }
        if (joined.size() == 1 && broken.isEmpty())
            return;
        read(joined, broken);
    }

    static QString missing(int from, int to)
    {
        return from == to
            ? QStringLiteral("part %1 is not in this image").arg(from)
            : QStringLiteral("parts %1 to %2 are not in this image").arg(from).arg(to);
    }

    /// Reads the archive behind the first part from the parts joined.
    void read(const QVector<Part> &parts, const QString &broken)
    {
        const qint64 start = parts.first().dataStart;
        auto layout = std::make_shared<RecordLayout>();
        appendSlice(layout.get(), *m_result.facts.layout, 0, parts.first().dataEnd);
        for (int i = 1; i < parts.size(); ++i)
            appendSlice(layout.get(), *m_result.facts.layout, parts[i].dataStart, parts[i].dataEnd);
        ImageFacts facts = m_result.facts;
        facts.layout = layout;
        facts.streamLength = layout->streamLength();
        facts.recordedTapeMarks.clear(); // between the parts, now joined
        BodyStream stream(facts);
        QByteArray head(int(signatureLength), '\0');
        const qint64 got = stream.open() ? stream.readAt(start, head.data(), head.size()) : -1;
        const auto *bytes = reinterpret_cast<const unsigned char *>(head.constData());
        const Signature kind = got > 0 ? detectSignature(bytes, std::size_t(got)) : Signature::None;
        const bool archive = kind == Signature::Tar || kind == Signature::Cpio
            || kind == Signature::Zip || kind == Signature::Compressed;
        const Compression compression = kind == Signature::Compressed
            ? detectCompression(bytes, std::size_t(got))
            : Compression::None;
        ArchiveRead read;
        if (!archive
            || !readArchive(facts, start, facts.streamLength, compression, &read, m_cancel)) {
            for (const Part &part : parts)
                label(part,
                    QStringLiteral("part %1 of a split dump; what the parts hold joined is no "
                                   "archive the scan reads: each is kept as found")
                        .arg(part.header.number));
            return;
        }
        for (const RecordLayout::Run &run :
            layout->unreadableIn(read.archive.offset, read.archive.offset + read.archive.length))
            markDamageInside(&read, facts, std::max(run.streamStart, start), run.streamEnd(),
                QStringLiteral("a block there is unreadable"));
        // Where the last part starts in the joined stream, and how much of it the archive holds.
        const qint64 lastAt = facts.streamLength - (parts.last().dataEnd - parts.last().dataStart);
        const qint64 archiveEnd
            = read.damageAt >= 0 ? read.damageAt : read.archive.offset + read.archive.length;
        if (!broken.isEmpty() && read.damageAt < 0 && archiveEnd >= lastAt)
            markDamage(&read, facts, facts.streamLength,
                QStringLiteral("the dump goes on in a part that is not joined"));
        QVector<Part> held = parts;
        held.last().dataEnd = std::min(
            held.last().dataEnd, held.last().dataStart + std::max<qint64>(0, archiveEnd - lastAt));
        FoundArchive &found = read.archive;
        found.joinedLayout = layout;
        const QString joined
            = QStringLiteral("an Amanda dump split over %1 tape files, joined").arg(parts.size());
        found.note = broken.isEmpty()
            ? joined + (found.note.isEmpty() ? QString() : QStringLiteral("; ") + found.note)
            : joined + QStringLiteral(" up to where ") + broken
                + QStringLiteral(": the members from there on are damaged or lost")
                + (found.note.isEmpty() ? QString() : QStringLiteral("; ") + found.note);
        // What the scan found in the parts one by one is now the joined archive.
        int replaced = -1;
        for (int a = 0; a < m_result.archives.size(); ++a) {
            const qint64 at = m_result.archives.at(a).offset;
            if (at == start && replaced < 0)
                replaced = a;
            else if (std::any_of(held.cbegin(), held.cend(),
                         [&](const Part &p) { return at >= p.dataStart && at < p.dataEnd; }))
                m_dropArchives.insert(a);
        }
        for (int r = 0; r < m_result.rawRegions.size(); ++r) {
            RawRegion &region = m_result.rawRegions[r];
            for (const Part &p : qAsConst(held)) {
                if (region.kind == QLatin1String("amanda") || region.offset < p.dataStart
                    || region.offset >= p.dataEnd)
                    continue;
                // Raw data runs on over the tape mark: what lies past the part stays.
                const qint64 end = region.offset + region.length;
                const qint64 after = end > p.dataEnd ? nextData(p.dataEnd, end) : end;
                if (after < end) {
                    region.offset = after;
                    region.length = end - after;
                } else {
                    m_dropRegions.insert(r);
                }
            }
        }
        if (replaced >= 0) {
            m_result.archives[replaced] = found;
        } else {
            auto at = std::find_if(m_result.archives.begin(), m_result.archives.end(),
                [&](const FoundArchive &a) { return a.offset > start; });
            const int index = int(at - m_result.archives.begin());
            m_result.archives.insert(index, found);
            shiftAfter(index);
        }
        for (const Part &part : parts)
            label(part,
                QStringLiteral("part %1 of a split dump, joined to the archive behind part 1")
                    .arg(part.header.number));
        if (!broken.isEmpty())
            label(parts.last(), broken);
    }

    /// The start of the record that holds the first byte that is not zero in [from, to);
    /// @p to when none: the zeros are the part's padding and its tape mark.
    qint64 nextData(qint64 from, qint64 to)
    {
        QByteArray bytes(int(std::min<qint64>(to - from, 1 << 20)), Qt::Uninitialized);
        for (qint64 at = from; at < to;) {
            const qint64 got
                = m_stream.readAt(at, bytes.data(), std::min<qint64>(bytes.size(), to - at));
            if (got <= 0)
                return at;
            const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
            const auto *found
                = std::find_if(data, data + got, [](unsigned char c) { return c != 0; });
            if (found != data + got) {
                const qint64 first = at + (found - data);
                const RecordLayout &layout = *m_result.facts.layout;
                return std::max(
                    from, layout.recordsKnown() ? layout.recordStart(first) : first / 512 * 512);
            }
            at += got;
        }
        return to;
    }

    /// An archive inserted at @p index: the indices from there on move up by one.
    void shiftAfter(int index)
    {
        QSet<int> moved;
        for (int a : qAsConst(m_dropArchives))
            moved.insert(a >= index ? a + 1 : a);
        m_dropArchives = moved;
        for (RawRegion &region : m_result.rawRegions)
            if (region.partOf >= index)
                ++region.partOf;
    }

    void dropReplaced()
    {
        QVector<int> newIndex(m_result.archives.size(), -1);
        QVector<FoundArchive> kept;
        for (int a = 0; a < m_result.archives.size(); ++a) {
            if (m_dropArchives.contains(a))
                continue;
            newIndex[a] = kept.size();
            kept.append(m_result.archives.at(a));
        }
        m_result.archives = kept;
        QVector<RawRegion> regions;
        for (int r = 0; r < m_result.rawRegions.size(); ++r) {
            if (m_dropRegions.contains(r))
                continue;
            RawRegion region = m_result.rawRegions.at(r);
            region.partOf = region.partOf >= 0 ? newIndex.value(region.partOf, -1) : -1;
            regions.append(region);
        }
        m_result.rawRegions = regions;
    }

    ScanResult &m_result;
    BodyStream &m_stream;
    const std::atomic<bool> *m_cancel;
    QSet<int> m_dropArchives;
    QSet<int> m_dropRegions;
};

} // namespace

void joinAmandaParts(ScanResult *result, BodyStream &stream, const std::atomic<bool> *cancel)
{
    if (result->facts.layout && !result->cancelled)
        Join(*result, stream, cancel).run();
}

const ScanResult &joinedView(const ScanResult &result, int index, ScanResult *storage)
{
    const auto &layout = result.archives.at(index).joinedLayout;
    if (!layout)
        return result;
    *storage = result;
    storage->facts.layout = layout;
    storage->facts.streamLength = layout->streamLength();
    storage->facts.recordedTapeMarks.clear();
    storage->archives[index].joinedLayout.reset();
    return *storage;
}

} // namespace Quorlin
