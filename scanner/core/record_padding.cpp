// The padding of images made at a block size larger than the tape's blocks.
#include "scanner/core/image_facts.h"
#include "scanner/core/record_layout.h"

#include <QFile>

#include <algorithm>
#include <cstring>

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

/// Builds the layout one record at a time. A tape file (records between
/// all-zero ones) keeps one data length: what its fullest record needs, taken
/// up to the next 512 bytes unless two records agree on an odd length. Zero
/// records take the length of the tape file before them.
class PaddingPlan
{
public:
    PaddingPlan(qint64 recordLength, qint64 tapeBlockLength)
        : m_record(recordLength)
        , m_tapeBlock(tapeBlockLength)
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

    void closeGroup()
    {
        const qint64 length = groupLength();
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
    qint64 m_next = 0; ///< index of the next record
    qint64 m_zeros = 0; ///< zero records not yet placed
    qint64 m_groupStart = 0;
    qint64 m_groupCount = 0;
    qint64 m_most = 0; ///< the longest data of the tape file so far
    qint64 m_atMost = 0; ///< records with exactly that much
    qint64 m_lastLength = 0;
    qint64 m_atLeast = 0; ///< what the group's blocks are known to hold at least
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
    PaddingPlan plan(record, qint64(facts->tapeBlockLength));
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
