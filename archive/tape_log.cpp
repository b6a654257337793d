#include "archive/tape_log.h"

#include <QMap>

namespace {
constexpr int kLengthsNamed = 4; ///< a summary names this many record lengths, the most common
}

void TapeLog::restart()
{
    std::function<void(bool)> watcher = std::move(m_watcher);
    *this = TapeLog();
    m_watcher = std::move(watcher);
}

void TapeLog::counted(quint32 length)
{
    RunRecord::TapeFile &file = m_files.last();
    ++file.records;
    ++file.lengths[length];
    m_recordBytes += length;
    ++m_objects;
}

void TapeLog::record(quint32 length)
{
    counted(length);
    told(false);
}

void TapeLog::mark()
{
    ++m_objects;
    ++m_marks;
    m_files.append(RunRecord::TapeFile());
    told(true);
}

void TapeLog::unreadable(quint32 length, int tries, const QString &kept)
{
    counted(length);
    ++m_damage;
    m_damaged.insert(m_objects, { int(m_files.size()) - 1, length });
    const QString read = tries > 1 ? QStringLiteral(" (%1 reads)").arg(tries) : QString();
    m_problems.append({ m_objects, RunRecord::ProblemKind::Unreadable,
        QStringLiteral("block %1 could not be read%2; %3").arg(m_objects).arg(read, kept) });
    told(false);
}

void TapeLog::cut(quint32 length, const QString &kept)
{
    counted(length);
    ++m_damage;
    m_damaged.insert(m_objects, { int(m_files.size()) - 1, length });
    m_problems.append({ m_objects, RunRecord::ProblemKind::Cut,
        QStringLiteral("block %1 is longer than %2 bytes; %3")
            .arg(m_objects)
            .arg(length)
            .arg(kept) });
    told(false);
}

void TapeLog::recovered(int tries)
{
    m_problems.append({ m_objects + 1, RunRecord::ProblemKind::Recovered,
        QStringLiteral("block %1 was read whole at read %2").arg(m_objects + 1).arg(tries) });
}

bool TapeLog::readWholeLater(quint64 block, quint32 length, int pass)
{
    const auto found = m_damaged.constFind(block);
    if (found == m_damaged.constEnd())
        return false;
    const Damaged was = *found;
    m_damaged.remove(block);
    RunRecord::TapeFile &file = m_files[was.file];
    if (--file.lengths[was.length] == 0)
        file.lengths.remove(was.length);
    ++file.lengths[length];
    m_recordBytes += length;
    m_recordBytes -= was.length;
    --m_damage;
    for (RunRecord::Problem &problem : m_problems) {
        if (problem.block == block && problem.kind != RunRecord::ProblemKind::Recovered) {
            problem.kind = RunRecord::ProblemKind::Recovered;
            problem.text
                = QStringLiteral("block %1 was read whole on pass %2").arg(block).arg(pass);
        }
    }
    return true;
}

void TapeLog::relog(bool mark, quint32 length, QVector<RunRecord::Problem> problems)
{
    if (mark) {
        ++m_objects;
        ++m_marks;
        m_files.append(RunRecord::TapeFile());
        return;
    }
    counted(length);
    for (RunRecord::Problem &problem : problems) {
        problem.block = m_objects;
        if (problem.kind != RunRecord::ProblemKind::Recovered) {
            ++m_damage;
            m_damaged.insert(m_objects, { int(m_files.size()) - 1, length });
        }
        m_problems.append(problem);
    }
}

QString TapeLog::damage() const
{
    QStringList named;
    for (const RunRecord::Problem &problem : m_problems) {
        if (problem.kind != RunRecord::ProblemKind::Recovered && named.size() < kLengthsNamed)
            named << QStringLiteral("block %1 %2")
                         .arg(problem.block)
                         .arg(RunRecord::problemKindName(problem.kind));
    }
    if (m_damage > named.size())
        named << QStringLiteral("%1 more").arg(m_damage - named.size());
    return QStringLiteral("but %1 %2 not whole: ")
               .arg(m_damage)
               .arg(m_damage == 1 ? QStringLiteral("is") : QStringLiteral("are"))
        + named.join(QStringLiteral(", "));
}

void TapeLog::fill(RunRecord::Record &record) const
{
    record.blocksRead = qint64(m_objects);
    record.marksRead = qint64(m_marks);
    record.files = m_files;
    // Marks end files; nothing after the last one is not a file of its own.
    if (record.files.size() > 1 && record.files.last().records == 0)
        record.files.removeLast();
    record.problems = m_problems;
}

QString TapeLog::summary() const
{
    QMap<quint32, qint64> lengths;
    qint64 records = 0;
    int files = 0;
    for (const RunRecord::TapeFile &file : m_files) {
        records += file.records;
        files += file.records > 0 ? 1 : 0;
        for (auto it = file.lengths.cbegin(); it != file.lengths.cend(); ++it)
            lengths[it.key()] += it.value();
    }
    QMultiMap<qint64, quint32> byCount;
    for (auto it = lengths.cbegin(); it != lengths.cend(); ++it)
        byCount.insert(-it.value(), it.key());
    QStringList named;
    for (auto it = byCount.cbegin(); it != byCount.cend() && named.size() < kLengthsNamed; ++it)
        named << QStringLiteral("%1 of %2 bytes").arg(-it.key()).arg(it.value());
    if (byCount.size() > kLengthsNamed)
        named << QStringLiteral("%1 other lengths").arg(byCount.size() - kLengthsNamed);
    QString text = QStringLiteral("%1 records").arg(records);
    if (!named.isEmpty())
        text += QStringLiteral(" (") + named.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text
        + QStringLiteral(" in %1 tape file%2, %3 tape mark%4")
              .arg(files)
              .arg(files == 1 ? QString() : QStringLiteral("s"))
              .arg(m_marks)
              .arg(m_marks == 1 ? QString() : QStringLiteral("s"));
}
