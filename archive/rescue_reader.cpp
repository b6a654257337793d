#include "archive/rescue_reader.h"

#include "platform/backend/tape_backend.h"
#include "platform/tap/tap_format.h"
#include "platform/win32_tape.h"

#include <QElapsedTimer>
#include <QMap>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace Rescue {

namespace {

constexpr qint64 kSaveEveryMs = 1000;
/// Sooner when the writer has written more: a killed run then reads again little more
/// than what its buffer held. Not at every chunk, which would make the reader wait on the disk.
constexpr qint64 kSaveWrittenAfterMs = 100;

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

DWORD space(HANDLE drive, qint64 records)
{
    return SetTapePosition(
        drive, TAPE_SPACE_RELATIVE_BLOCKS, 0, DWORD(records), DWORD(quint64(records) >> 32), FALSE);
}

/// Where the map's objects end: the end of data, else past the last run.
std::uint64_t mapEnd(const Map &map)
{
    if (map.runs().isEmpty())
        return 0;
    return map.endKnown() ? map.runs().last().first : map.runs().last().end();
}

/// The pass the map records was made to its end.
bool passMade(const Map &map)
{
    return map.pass > 0 && map.endKnown() && map.next >= mapEnd(map);
}

bool copyRange(int from, int to, std::uint64_t offset, std::uint64_t bytes)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (bytes > 0) {
        const std::size_t want
            = std::size_t(std::min<std::uint64_t>(bytes, std::uint64_t(buffer.size())));
        const ssize_t got = ::pread(from, buffer.data(), want, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO; // shorter than the map says
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = ::write(to, buffer.constData() + done, std::size_t(got - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        offset += std::uint64_t(got);
        bytes -= std::uint64_t(got);
    }
    return true;
}

} // namespace

Reader::Reader(HANDLE drive, int fd, const Map &map, TapeLog &log, const Settings &settings)
    : m_drive(drive)
    , m_fd(fd)
    , m_log(log)
    , m_settings(settings)
    , m_pipe(fd, TapeBackend::kLargestRecord, settings.bufferBytes)
    , m_map(map)
    , m_saved(map)
    , m_base(map.partialBytes)
    , m_next(map.next)
{
}

Reader::~Reader()
{
    if (m_readFd >= 0)
        ::close(m_readFd);
}

bool Reader::start()
{
    m_readFd = ::open(m_settings.partialPath.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (m_readFd < 0)
        return false;
    // Going on with an earlier run's rescue, the log starts with what that run read, so that
    // the record describes the whole master. The map, not the earlier run's record, says
    // what that is: it was saved after the bytes it names were synced and checked against
    // them on resuming, while the record may be seconds older or newer than both. The record
    // only adds what the map cannot know: how each flagged block failed, which whole ones
    // needed reading again.
    if (m_map.pass > 0) {
        const std::uint64_t upTo = m_map.pass == 1 && !passMade(m_map)
            ? m_map.next
            : std::numeric_limits<std::uint64_t>::max();
        if (!relog(m_readFd, m_map, upTo, m_settings.earlierProblems, m_log))
            m_logPartial = true;
    }
    return m_pipe.start() && save(true);
}

bool Reader::where(std::uint64_t &position)
{
    DWORD partition = 0, low = 0, high = 0;
    if (GetTapePosition(m_drive, TAPE_ABSOLUTE_POSITION, &partition, &low, &high) != NO_ERROR)
        return false;
    position = std::uint64_t(high) << 32 | low;
    return true;
}

bool Reader::seekTo(std::uint64_t position)
{
    std::uint64_t at = 0;
    const bool known = where(at);
    if (known && at == position)
        return true;
    // One record off, as after a failed read: spaced over, as drives do it fastest.
    if (known && (at + 1 == position || at == position + 1)
        && space(m_drive, at < position ? 1 : -1) == NO_ERROR && where(at) && at == position)
        return true;
    const DWORD error = SetTapePosition(
        m_drive, TAPE_ABSOLUTE_BLOCK, 0, DWORD(position), DWORD(position >> 32), FALSE);
    // A drive that cannot tell its position at all is taken at its word.
    if (error == NO_ERROR && (!where(at) || at == position))
        return true;
    // A drive that cannot locate is spaced there, a tape mark on the way ending each move.
    for (int moves = 0; error != NO_ERROR && known && where(at) && moves < 64; ++moves) {
        if (at == position)
            return true;
        const DWORD spaced = space(m_drive, qint64(position) - qint64(at));
        if (spaced != NO_ERROR && spaced != ERROR_FILEMARK_DETECTED)
            break;
    }
    m_problem = error != NO_ERROR
        ? QStringLiteral("the drive could not go to block %1 (error %2)").arg(position).arg(error)
        : QStringLiteral("the drive was sent to block %1 but does not report being there")
              .arg(position);
    return false;
}

Reader::Outcome Reader::readAt(std::uint64_t position)
{
    Outcome o;
    const auto read = [&] {
        return ReadFile(
                   m_drive, m_pipe.recordBuffer(), TapeBackend::kLargestRecord, &o.got, nullptr)
            ? DWORD(NO_ERROR)
            : GetLastError();
    };
    // What the drive says of a failure decides whether reading it again is worth it.
    AfterFailure after = AfterFailure::ReadAgain;
    const auto ask = [&] {
        if (m_settings.afterFailure && o.error != NO_ERROR && o.error != ERROR_FILEMARK_DETECTED
            && o.error != ERROR_NO_DATA_DETECTED && o.error != ERROR_END_OF_MEDIA
            && o.error != ERROR_MORE_DATA)
            after = m_settings.afterFailure(o.error, position);
    };
    o.error = read();
    ask();
    while (o.error == ERROR_CRC && o.reads <= m_settings.retries && after == AfterFailure::ReadAgain
        && seekTo(position)) {
        o.error = read();
        ++o.reads;
        ask();
    }
    if (after == AfterFailure::StopRun)
        m_driveAsked = true;
    return o;
}

void Reader::note(Event event)
{
    event.fileEnd = m_base + m_pipe.committed();
    event.next = m_next;
    event.pass = m_pass;
    if (event.touches) {
        if (event.end)
            m_map.setEnd(event.position);
        else
            m_map.set(event.position, event.state, event.offset, event.bytes);
    }
    m_map.next = m_next;
    m_map.pass = m_pass;
    m_pending.push_back(event);
}

void Reader::moveNext(std::uint64_t next)
{
    m_next = next;
    Event event;
    event.touches = false;
    note(event);
}

bool Reader::keep(std::uint64_t position, const Outcome &o, bool log)
{
    bool good = o.error == NO_ERROR;
    const Run *before = m_map.runAt(position);
    const State was = before ? before->state : State::Untried;
    const std::uint64_t framed = TapFormat::recordWord(o.got, !good) ? o.got + (o.got & 1) + 8 : 0;
    m_next = position + 1;
    // A later failed read keeps whatever earlier one returned more.
    if (!good && before && (before->state == State::Bad || before->state == State::Empty)
        && before->bytes >= framed) {
        moveNext(m_next);
        return false;
    }
    Event event;
    event.position = position;
    event.offset = std::int64_t(m_base + m_pipe.committed());
    if (!m_pipe.commitRecord(o.got, !good)) {
        // A record read whole with no bytes: no drive returns one; kept as read with nothing.
        m_pipe.commitRecord(0, true);
        event.state = State::Empty;
        good = false;
    } else {
        event.state = good ? State::Good : o.got > 0 ? State::Bad : State::Empty;
    }
    event.bytes = m_base + m_pipe.committed() - std::uint64_t(event.offset);
    note(event);
    // Read on a later pass: what the first pass logged as damage is not; a record it
    // skipped is not in the log at all.
    if (!log) {
        const bool wasDamage = was == State::Bad || was == State::Empty;
        if (good && wasDamage && !m_log.readWholeLater(position + 1, o.got, m_pass))
            m_logPartial = true;
        if (was == State::Untried)
            m_logPartial = true;
    }
    if (log) {
        m_log.skipTo(position);
        if (good && o.reads > 1)
            m_log.recovered(o.reads);
        if (good)
            m_log.record(o.got);
        else if (o.error == ERROR_MORE_DATA)
            m_log.cut(o.got,
                QStringLiteral("the master keeps its first %1 bytes, flagged as not read whole")
                    .arg(o.got));
        else
            m_log.unreadable(o.got, o.reads,
                QStringLiteral("the master keeps the %1 bytes the drive returned, flagged as "
                               "unreadable")
                    .arg(o.got));
    }
    return good;
}

void Reader::keepMark(std::uint64_t position)
{
    Event event;
    event.position = position;
    event.state = State::Mark;
    event.offset = std::int64_t(m_base + m_pipe.committed());
    m_pipe.commitMark();
    event.bytes = 4;
    m_next = position + 1;
    note(event);
    if (m_pass == 1) {
        m_log.skipTo(position);
        m_log.mark();
    }
    // Saved with what the disk holds so far, without waiting for the rest: waiting here
    // would empty the buffer at every mark and stop a streaming drive.
    save(false);
}

void Reader::keepEnd(std::uint64_t position)
{
    Event event;
    event.end = true;
    event.position = position;
    m_next = position;
    note(event);
}

bool Reader::save(bool flush)
{
    if (flush)
        m_pipe.flush();
    m_savedWritten = m_pipe.written();
    const std::uint64_t written = m_base + m_savedWritten;
    bool changed = m_pending.empty() && m_lastSave == 0;
    while (!m_pending.empty() && m_pending.front().fileEnd <= written) {
        const Event &e = m_pending.front();
        if (e.touches) {
            if (e.end)
                m_saved.setEnd(e.position);
            else
                m_saved.set(e.position, e.state, e.offset, e.bytes);
        }
        m_saved.next = e.next;
        m_saved.pass = e.pass;
        m_saved.partialBytes = e.fileEnd;
        m_pending.pop_front();
        changed = true;
    }
    m_lastSave = nowMs();
    if (!changed)
        return true;
    // The bytes first: a map on the disk never names bytes that are not.
    if (::fdatasync(m_fd) != 0)
        return false;
    m_saved.partialTail = tailChecksum(m_readFd, m_saved.partialBytes);
    return m_saved.save(m_settings.mapPath);
}

bool Reader::stopping(Stop &stop)
{
    if (m_driveAsked) {
        stop = Stop::DriveAsked;
        return true;
    }
    if (m_settings.stopRequested && m_settings.stopRequested()) {
        stop = Stop::Interrupted;
        return true;
    }
    if (m_pipe.failed()) {
        stop = Stop::WriteFailed;
        return true;
    }
    const qint64 since = nowMs() - m_lastSave;
    if (since >= kSaveEveryMs
        || (since >= kSaveWrittenAfterMs && m_pipe.written() != m_savedWritten))
        save(false);
    return false;
}

Stop Reader::firstPass(std::uint64_t from)
{
    if (!seekTo(from))
        return Stop::PositionLost;
    std::uint64_t position = from;
    int errorsInRow = 0;
    std::uint64_t step = 1;
    bool afterMark = false;
    for (;;) {
        Stop stop = Stop::Done;
        if (stopping(stop))
            return stop;
        const Outcome o = readAt(position);
        PassFigures &figures = m_figures.last();
        std::uint64_t at = 0;
        switch (o.error) {
        case NO_ERROR:
        case ERROR_MORE_DATA:
            ++figures.tried;
            ++(keep(position, o, true) ? figures.good : figures.failed);
            ++position;
            errorsInRow = 0;
            step = 1;
            break;
        case ERROR_FILEMARK_DETECTED:
            if (!where(at))
                at = position + 1;
            keepMark(at - 1);
            position = at;
            errorsInRow = 0;
            step = 1;
            if (afterMark && m_settings.endOfData < 0) {
                keepEnd(position);
                return Stop::Done;
            }
            break;
        case ERROR_NO_DATA_DETECTED:
            if (!where(at))
                at = position;
            keepEnd(at);
            return Stop::Done;
        case ERROR_END_OF_MEDIA:
            m_endOfMedium = true;
            keepEnd(position);
            return Stop::Done;
        case ERROR_CRC:
            ++figures.tried;
            ++figures.failed;
            keep(position, o, true);
            ++errorsInRow;
            // Past the record, whether the drive went by itself or not.
            if (!seekTo(position + 1)) {
                m_problem = QStringLiteral("the drive cannot go past the unreadable block %1: ")
                    + m_problem;
                return Stop::PositionLost;
            }
            ++position;
            if (errorsInRow >= 2) {
                // A damaged stretch: over it quickly, the records skipped left for later.
                const DWORD spaced = space(m_drive, qint64(step));
                if (!where(at)) {
                    m_problem = QStringLiteral("the drive does not report its position after "
                                               "spacing past damaged blocks");
                    return Stop::PositionLost;
                }
                if (spaced == ERROR_FILEMARK_DETECTED) {
                    keepMark(at - 1);
                    errorsInRow = 0;
                    step = 1;
                } else if (spaced == ERROR_NO_DATA_DETECTED || spaced == ERROR_END_OF_MEDIA) {
                    keepEnd(at);
                    return Stop::Done;
                } else if (spaced != NO_ERROR) {
                    m_error = spaced;
                    return Stop::DriveFailed;
                } else {
                    step *= 2;
                }
                position = at;
                moveNext(position);
            }
            break;
        default:
            m_error = o.error;
            return Stop::DriveFailed;
        }
        afterMark = o.error == ERROR_FILEMARK_DETECTED;
        if (m_settings.progress)
            m_settings.progress();
    }
}

Stop Reader::stretch(std::uint64_t first, std::uint64_t end)
{
    if (!seekTo(first))
        return Stop::PositionLost;
    PassFigures &figures = m_figures.last();
    std::uint64_t position = first;
    std::uint64_t at = 0;
    // Forward from the start until a read fails...
    while (position < end) {
        Stop stop = Stop::Done;
        if (stopping(stop))
            return stop;
        const Outcome o = readAt(position);
        if (o.error == ERROR_FILEMARK_DETECTED) {
            keepMark(where(at) ? at - 1 : position);
            position = m_next;
            continue;
        }
        if (o.error == ERROR_NO_DATA_DETECTED || o.error == ERROR_END_OF_MEDIA) {
            keepEnd(position);
            return Stop::Done;
        }
        if (o.error != NO_ERROR && o.error != ERROR_MORE_DATA && o.error != ERROR_CRC) {
            m_error = o.error;
            return Stop::DriveFailed;
        }
        ++figures.tried;
        const bool good = keep(position, o, false);
        ++(good ? figures.good : figures.failed);
        if (m_settings.progress)
            m_settings.progress();
        if (!good)
            break;
        ++position;
    }
    // ...then backwards from its end, record by record, until one fails there too.
    for (std::uint64_t back = end; back > position + 1; --back) {
        Stop stop = Stop::Done;
        if (stopping(stop))
            return stop;
        if (!seekTo(back - 1))
            return Stop::PositionLost;
        const Outcome o = readAt(back - 1);
        if (o.error == ERROR_FILEMARK_DETECTED) {
            keepMark(back - 1);
            continue;
        }
        if (o.error == ERROR_NO_DATA_DETECTED || o.error == ERROR_END_OF_MEDIA) {
            keepEnd(back - 1);
            continue;
        }
        if (o.error != NO_ERROR && o.error != ERROR_MORE_DATA && o.error != ERROR_CRC) {
            m_error = o.error;
            return Stop::DriveFailed;
        }
        ++figures.tried;
        const bool good = keep(back - 1, o, false);
        ++(good ? figures.good : figures.failed);
        if (m_settings.progress)
            m_settings.progress();
        if (!good)
            break;
    }
    return Stop::Done;
}

Stop Reader::laterPass(std::uint64_t from)
{
    // Neighbouring runs not read good are one stretch, approached from both of its ends.
    QVector<Run> stretches;
    for (const Run &r : m_map.unfinished()) {
        if (r.end() <= from)
            continue;
        Run s = r;
        if (s.first < from) {
            s.count = s.end() - from;
            s.first = from;
        }
        if (!stretches.isEmpty() && stretches.last().end() == s.first)
            stretches.last().count += s.count;
        else
            stretches.append(s);
    }
    for (const Run &s : qAsConst(stretches)) {
        moveNext(s.first);
        const Stop stop = stretch(s.first, s.end());
        if (stop != Stop::Done)
            return stop;
    }
    return Stop::Done;
}

Stop Reader::run()
{
    int pass = m_map.pass;
    std::uint64_t from = m_map.next;
    if (pass == 0) {
        pass = 1;
        from = 0;
    } else if (passMade(m_map)) {
        ++pass;
        from = 0;
    }
    for (int made = 0; made < m_settings.passes; ++made, ++pass, from = 0) {
        if (pass > 1 && m_map.unfinished().isEmpty())
            break;
        PassFigures figures;
        figures.number = pass;
        figures.started = QDateTime::currentDateTime();
        if (made == 0 && pass == m_map.pass) {
            figures.resumedAt = qint64(from);
            // The first pass visits each record before its "next" once: the map counts them.
            if (pass == 1) {
                for (const Run &r : m_map.runs()) {
                    const std::uint64_t n = std::min(r.end(), from) - std::min(r.first, from);
                    figures.tried += r.state == State::Good || r.state == State::Bad
                            || r.state == State::Empty
                        ? n
                        : 0;
                    figures.good += r.state == State::Good ? n : 0;
                }
                figures.failed = figures.tried - figures.good;
                figures.earlierCounted = true;
                if (m_settings.earlierStart.isValid())
                    figures.started = m_settings.earlierStart;
            }
        }
        m_figures.append(figures);
        m_pass = pass;
        if (pass == 1)
            m_log.skipTo(from);
        moveNext(from);
        const Stop stop = pass == 1 ? firstPass(from) : laterPass(from);
        m_figures.last().ended = QDateTime::currentDateTime();
        if (stop != Stop::Done) {
            save(true);
            return stop;
        }
        moveNext(mapEnd(m_map));
        save(true);
    }
    return Stop::Done;
}

bool Reader::finish()
{
    const bool written = m_pipe.finish();
    const bool saved = save(true) && written;
    // Records the first pass left untried and a later one read are in no log: all from the map.
    if (saved && m_logPartial) {
        TapeLog whole;
        if (relog(m_readFd, m_saved, std::numeric_limits<std::uint64_t>::max(), m_log.problems(),
                whole)) {
            m_log.take(std::move(whole));
            m_logPartial = false;
        }
    }
    return saved;
}

bool relog(int fd, const Map &map, std::uint64_t upTo, const QVector<RunRecord::Problem> &known,
    TapeLog &log)
{
    using RunRecord::Problem;
    using RunRecord::ProblemKind;
    QMap<quint64, QVector<Problem>> byBlock;
    for (const Problem &problem : known)
        byBlock[problem.block].append(problem);
    for (const Run &r : map.runs()) {
        if (r.first >= upTo)
            break;
        if (r.state == State::Untried || r.state == State::End)
            continue;
        std::uint64_t offset = std::uint64_t(r.offset);
        for (std::uint64_t position = r.first; position < r.end() && position < upTo; ++position) {
            log.skipTo(position);
            if (r.state == State::Mark) {
                log.relog(true, 0, {});
                continue;
            }
            unsigned char bytes[4];
            const ssize_t got = ::pread(fd, bytes, sizeof bytes, off_t(offset));
            if (got != ssize_t(sizeof bytes)) {
                if (got >= 0)
                    errno = EIO;
                return false;
            }
            const std::uint32_t length
                = (std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8
                      | std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24)
                & TapFormat::kLengthMask;
            offset += length + (length & 1) + 8;
            const quint64 block = position + 1;
            const bool damaged = r.state != State::Good;
            QVector<Problem> problems;
            bool wasDamaged = false;
            for (const Problem &problem : byBlock.value(block)) {
                const bool damage = problem.kind != ProblemKind::Recovered;
                if (damage == damaged)
                    problems.append(problem);
                wasDamaged = wasDamaged || damage;
            }
            if (damaged && problems.isEmpty()) {
                problems.append({ block, ProblemKind::Unreadable,
                    QStringLiteral("block %1 could not be read; the master keeps the %2 bytes "
                                   "the drive returned, flagged as unreadable")
                        .arg(block)
                        .arg(length) });
            } else if (!damaged && problems.isEmpty() && wasDamaged) {
                problems.append({ block, ProblemKind::Recovered,
                    QStringLiteral("block %1 was read whole on a later pass").arg(block) });
            }
            log.relog(false, length, problems);
        }
    }
    return true;
}

qint64 findEndOfData(HANDLE drive)
{
    DWORD partition = 0, low = 0, high = 0;
    if (SetTapePosition(drive, TAPE_SPACE_END_OF_DATA, 0, 0, 0, FALSE) != NO_ERROR
        || GetTapePosition(drive, TAPE_ABSOLUTE_POSITION, &partition, &low, &high) != NO_ERROR)
        return -1;
    return qint64(quint64(high) << 32 | low);
}

Judgement judge(const Map &map, Stop stop, qint64 endOfData, const QString &why)
{
    using RunRecord::Verdict;
    const std::uint64_t objects = map.runs().isEmpty() ? 0 : map.runs().last().first;
    const QString unfinished = unfinishedText(map);
    const QString again = QStringLiteral("; the same command again makes another pass");
    if (stop != Stop::Done || !map.endKnown()) {
        return { Verdict::StopsShort,
            why + QStringLiteral("; the master holds what was read before (%1)").arg(map.summary())
                + again };
    }
    if (endOfData >= 0 && objects < std::uint64_t(endOfData)) {
        return { Verdict::StopsShort,
            QStringLiteral("the drive reported the end of data after block %1, but spacing had "
                           "found it after block %2; what lies between is not in the master")
                .arg(objects)
                .arg(endOfData) };
    }
    if (map.count(State::Untried) > 0) {
        return { Verdict::StopsShort,
            QStringLiteral("the master is not whole: %1 of %2 blocks and marks; records not "
                           "tried are not in it")
                    .arg(unfinished)
                    .arg(objects)
                + again };
    }
    QString whole = QStringLiteral("every block and mark to the end of data is in the master "
                                   "(%1 blocks and marks)")
                        .arg(objects);
    if (endOfData < 0)
        whole += QStringLiteral("; the drive did not report the end of data, so whether "
                                "anything follows the two tape marks that ended it is not known");
    if (!unfinished.isEmpty()) {
        return { Verdict::Damaged,
            whole + QStringLiteral(", flagged where it could not be read whole: ") + unfinished
                + again };
    }
    return { Verdict::Complete, whole };
}

QString unfinishedText(const Map &map)
{
    QStringList parts;
    const auto add = [&](State state, const char *words) {
        QStringList where;
        std::uint64_t n = 0;
        for (const Run &r : map.runs()) {
            if (r.state != state)
                continue;
            n += r.count;
            // Blocks as the other messages number them, from 1: the map's position + 1.
            if (where.size() < 6)
                where << (r.count == 1 ? QString::number(r.first + 1)
                                       : QStringLiteral("%1-%2").arg(r.first + 1).arg(r.end()));
            else if (where.size() == 6)
                where << QStringLiteral("...");
        }
        if (n > 0)
            parts << QStringLiteral("%1 %2 (block %3)")
                         .arg(n)
                         .arg(QLatin1String(words), where.join(QStringLiteral(", ")));
    };
    add(State::Bad, "bad with data");
    add(State::Empty, "bad with no data");
    add(State::Untried, "not tried");
    return parts.join(QStringLiteral(", "));
}

bool assemble(int from, const Map &map, int fd, Map &placed)
{
    QVector<std::int64_t> offsets;
    std::uint64_t out = 0;
    for (const Run &r : map.runs()) {
        if (r.offset < 0) {
            offsets << -1;
            continue;
        }
        if (!copyRange(from, fd, std::uint64_t(r.offset), r.bytes))
            return false;
        offsets << std::int64_t(out);
        out += r.bytes;
    }
    placed = map;
    placed.relocate(offsets, out);
    return true;
}

} // namespace Rescue
