// The padding of images made at a block size larger than the tape's blocks.
#include "scanner/core/image_facts.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/signatures.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>

namespace Quorlin {
namespace {

constexpr qint64 readSize = 4 << 20;
constexpr qint64 progressInterval = 16 << 20;
constexpr qint64 tarBlock = 512;
// Beyond this many runs the image is read whole rather than held in a long table.
constexpr int mostRuns = 100000;

qint64 usedLength(const unsigned char *record, qint64 length)
{
    // Word-wise over the padding, which is most of what is looked at here.
    constexpr qint64 word = sizeof(unsigned long long);
    while (length >= word) {
        unsigned long long value;
        std::memcpy(&value, record + length - word, word);
        if (value != 0)
            break;
        length -= word;
    }
    while (length > 0 && record[length - 1] == 0)
        --length;
    return length;
}

/// A tar header's size field: octal, or base-256 when its first bit is set.
qint64 tarSize(const unsigned char *header)
{
    const unsigned char *field = header + 124;
    qint64 size = 0;
    if (field[0] & 0x80) {
        for (int i = 1; i < 12 && size < (qint64(1) << 54); ++i)
            size = size << 8 | field[i];
        return size;
    }
    for (int i = 0; i < 12; ++i) {
        if (field[i] >= '0' && field[i] <= '7')
            size = size * 8 + (field[i] - '0');
        else if (field[i] != ' ' || size > 0)
            break;
    }
    // Links, folders and devices store no data, whatever their size says.
    return std::strchr("123456", header[156]) && header[156] ? 0 : size;
}

/**
 * Whether the tape file of @p count records from record @p first, each read as
 * its first @p length bytes, holds one tar archive that covers it: every header
 * where the one before says, and after the end marker nothing but zeros to the
 * end of its record. Proves a record length that the zeros at the records' ends
 * leave open: with the wrong one the headers are not where the sizes lead. The
 * archive may run on over records of zeros (a file's zeros, not a tape mark) up
 * to the last of the image's @p records. Returns the record after the archive's
 * last, or -1. A @p length of 0 asks only whether a tar header starts it (1 or -1).
 */
qint64 tarEnd(QFile &file, qint64 record, qint64 first, qint64 count, qint64 records, qint64 length)
{
    if (length == 0) {
        unsigned char header[tarBlock];
        return file.seek(first * record)
                && file.read(reinterpret_cast<char *>(header), tarBlock) == tarBlock
                && isTarHeader(header, tarBlock)
            ? 1
            : -1;
    }
    const qint64 total = (records - first) * length;
    unsigned char block[tarBlock];
    QByteArray rest;
    const auto readAt = [&](qint64 at, void *into, qint64 size) {
        for (auto *to = static_cast<char *>(into); size > 0;) {
            const qint64 piece = std::min(size, length - at % length);
            if (!file.seek((first + at / length) * record + at % length)
                || file.read(to, piece) != piece)
                return false;
            at += piece;
            to += piece;
            size -= piece;
        }
        return true;
    };
    constexpr int mostHeaders = 1 << 20;
    qint64 at = 0;
    for (int headers = 0; headers < mostHeaders; ++headers) {
        if (at == total && headers > 0)
            return records;
        if (at > total - tarBlock || !readAt(at, block, tarBlock))
            return -1;
        if (allZero(block, tarBlock)) {
            const qint64 piece = length - at % length;
            rest.resize(int(piece));
            const qint64 end = first + at / length + 1;
            return headers > 0 && end >= first + count && readAt(at, rest.data(), piece)
                    && allZero(reinterpret_cast<const unsigned char *>(rest.constData()),
                        std::size_t(piece))
                ? end
                : -1;
        }
        if (!isTarHeader(block, tarBlock))
            return -1;
        const qint64 size = tarSize(block);
        if (size > total)
            return -1;
        at += tarBlock + (size + tarBlock - 1) / tarBlock * tarBlock;
    }
    return -1;
}

/// Builds the layout one record at a time. A tape file (records between
/// all-zero ones) keeps one data length: what its fullest record needs, taken
/// up to the next 512 bytes unless two records agree on an odd length. Zero
/// records take the length of the tape file before them.
class PaddingPlan
{
public:
    /// @p fits tells whether a tape file read at a record length is a tar that covers
    /// it: the record after the tar's last, or -1 (see tarEnd()).
    using Fits = std::function<qint64(qint64 first, qint64 count, qint64 length)>;

    PaddingPlan(qint64 recordLength, qint64 tapeBlockLength, Fits fits)
        : m_record(recordLength)
        , m_tapeBlock(tapeBlockLength)
        , m_fits(std::move(fits))
    {
    }

    void add(qint64 used)
    {
        if (used == 0) {
            if (m_groupCount > 0)
                closeGroup();
            ++m_zeros;
        } else {
            if (m_groupCount == 0)
                m_groupStart = m_next;
            if (used > m_most) {
                m_most = used;
                m_atMost = 0;
            }
            m_atMost += used == m_most ? 1 : 0;
            ++m_groupCount;
        }
        ++m_next;
    }

    void finish()
    {
        // The last record read was a block of T bytes (T is the last read's length): its
        // tape file's blocks hold at least that much, zeros at their end or not.
        if (m_groupCount > 0) {
            m_atLeast = m_tapeBlock;
            closeGroup();
        }
        if (m_zeros > 0)
            place(m_lastLength > 0 ? m_lastLength : m_tapeBlock, m_next - m_zeros, m_zeros);
        m_zeros = 0;
    }

    const RecordLayout &layout() const { return m_layout; }
    qint64 largest() const { return m_largest; }
    qint64 smallest() const { return m_smallest; }
    bool uniform() const { return m_uniform; }
    bool tooManyRuns() const { return m_layout.runCount() > mostRuns; }

private:
    qint64 groupLength() const
    {
        if (m_atLeast > m_most && m_atLeast < m_record)
            return m_atLeast;
        if (m_atMost >= 2 || m_most % tarBlock == 0)
            return m_most;
        const qint64 rounded = std::min(m_record, (m_most + tarBlock - 1) / tarBlock * tarBlock);
        return m_tapeBlock >= m_most && m_tapeBlock < rounded ? m_tapeBlock : rounded;
    }

    /// Records that all end in zeros leave their length open. T, the length of the
    /// last block read, is the tape's block length when a tar's own headers agree;
    /// else the shortest length they agree with, when @p shortest is not one.
    /// The records up to the tar's end then keep that length, records of zeros
    /// inside it (a file's zeros) included.
    qint64 provenLength(qint64 shortest)
    {
        const auto fits = [&](qint64 length) {
            const qint64 end
                = m_fits && length < m_record ? m_fits(m_groupStart, m_groupCount, length) : -1;
            if (end > m_groupStart + m_groupCount) {
                m_heldLength = length;
                m_heldUntil = end;
            }
            return end >= 0;
        };
        if (m_tapeBlock > shortest && fits(m_tapeBlock))
            return m_tapeBlock;
        // Only where a tar starts: other data would pay a try at every length.
        if (!m_fits || m_fits(m_groupStart, m_groupCount, 0) < 0 || fits(shortest))
            return shortest;
        for (qint64 length = shortest / tarBlock * tarBlock + tarBlock; length < m_record;
             length += tarBlock) {
            if (fits(length))
                return length;
        }
        return shortest;
    }

    void closeGroup()
    {
        const qint64 length
            = m_groupStart < m_heldUntil ? m_heldLength : provenLength(groupLength());
        if (m_zeros > 0) // zero records before the first tape file, or between two
            place(m_lastLength > 0 ? m_lastLength : length, m_groupStart - m_zeros, m_zeros);
        place(length, m_groupStart, m_groupCount);
        m_uniform = m_uniform && (m_lastLength == 0 || m_lastLength == length);
        m_lastLength = length;
        m_largest = std::max(m_largest, length);
        m_smallest = m_smallest == 0 ? length : std::min(m_smallest, length);
        m_zeros = 0;
        m_groupCount = 0;
        m_most = 0;
        m_atMost = 0;
    }

    void place(qint64 length, qint64 firstRecord, qint64 count)
    {
        m_layout.append({ 0, firstRecord * m_record, length, m_record, count });
    }

    RecordLayout m_layout;
    const qint64 m_record;
    const qint64 m_tapeBlock;
    const Fits m_fits;
    qint64 m_next = 0; ///< index of the next record
    qint64 m_zeros = 0; ///< zero records not yet placed
    qint64 m_groupStart = 0;
    qint64 m_groupCount = 0;
    qint64 m_most = 0; ///< the longest data of the tape file so far
    qint64 m_atMost = 0; ///< records with exactly that much
    qint64 m_lastLength = 0;
    qint64 m_atLeast = 0; ///< what the group's blocks are known to hold at least
    qint64 m_heldLength = 0; ///< a tar's proven record length ...
    qint64 m_heldUntil = 0; ///< ... for the records before this one
    qint64 m_largest = 0;
    qint64 m_smallest = 0; ///< 0 until a record holds data
    bool m_uniform = true;
};

void applyPlan(ImageFacts *facts, const PaddingPlan &plan)
{
    const qint64 record = qint64(facts->blockSize);
    if (plan.smallest() == 0)
        return; // zeros only: nothing to decide
    if (plan.smallest() >= record || plan.tooManyRuns()) {
        facts->trailerNote = QStringLiteral("Some records hold data after their first %1 bytes, "
                                            "so not every block was %1 bytes long: the records "
                                            "are read whole, zero padding included.")
                                 .arg(facts->tapeBlockLength);
        return;
    }
    auto layout = std::make_shared<RecordLayout>(plan.layout());
    facts->recordData = plan.largest();
    facts->recordStep = plan.uniform() ? plan.largest() : 0;
    facts->streamLength = layout->streamLength();
    facts->layout = layout;
    facts->trailerNote = plan.uniform()
        ? QStringLiteral("Each record is %1 bytes of tape data and %2 bytes of zero padding; "
                         "the padding is left out.")
              .arg(plan.largest())
              .arg(record - plan.largest())
        : QStringLiteral("The records hold tape blocks of different lengths (up to %1 bytes), "
                         "each padded with zeros to %2; the padding is left out record by "
                         "record.")
              .arg(plan.largest())
              .arg(record);
}

} // namespace

bool settlePadding(ImageFacts *facts, const ScanProgress &progress, const std::atomic<bool> *cancel,
    QString *error)
{
    const qint64 record = qint64(facts->blockSize);
    QFile file(facts->path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    QFile probe(facts->path);
    const bool probing = probe.open(QIODevice::ReadOnly);
    const qint64 records = facts->bodyLength / record;
    PaddingPlan plan(
        record, qint64(facts->tapeBlockLength), [&](qint64 first, qint64 count, qint64 length) {
            return probing ? tarEnd(probe, record, first, count, records, length) : -1;
        });
    QByteArray buffer(int(std::max(record, readSize / record * record)), Qt::Uninitialized);
    const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.constData());
    qint64 lastReport = 0;
    for (qint64 pos = 0; pos < facts->bodyLength;) {
        if (cancel && cancel->load())
            return false;
        const qint64 wanted = std::min<qint64>(buffer.size(), facts->bodyLength - pos);
        if (file.read(buffer.data(), wanted) != wanted) {
            *error = QStringLiteral("Reading the image failed at offset %1: %2")
                         .arg(pos)
                         .arg(file.errorString());
            return false;
        }
        for (qint64 at = 0; at < wanted; at += record)
            plan.add(usedLength(bytes + at, record));
        pos += wanted;
        if (progress && pos - lastReport >= progressInterval) {
            progress(pos, facts->bodyLength);
            lastReport = pos;
        }
    }
    plan.finish();
    applyPlan(facts, plan);
    return true;
}

} // namespace Quorlin
