#include "archive/rescue_layout.h"

#include "archive/run_record.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Rescue {

namespace {

QString shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

/// Whether @p b can be added to the end of @p a as one line, as the map joins runs.
bool joins(const Run &a, const Run &b)
{
    if (a.state != b.state || a.source != b.source || a.end() != b.first)
        return false;
    if (a.state == State::Bad || a.state == State::End)
        return false;
    if ((a.offset >= 0) != (b.offset >= 0))
        return false;
    return a.offset < 0 || std::uint64_t(a.offset) + a.bytes == std::uint64_t(b.offset);
}

/// Where the data of the damaged file ends, and how many bytes follow.
QString damageNote(const QByteArray &path, std::int64_t at, std::int64_t size)
{
    return QStringLiteral("%1 is damaged at byte %2 (%3 bytes follow that cannot be read): "
                          "it is taken as not knowing where the data ends")
        .arg(shown(path))
        .arg(at)
        .arg(size - at);
}

bool layoutByMap(const QByteArray &path, const Map &given, TapFile &file, std::int64_t size,
    Layout &layout, QString &error)
{
    RunList runs;
    TapFile::Object object;
    std::uint32_t copied = 0;
    for (const Run &r : given.runs()) {
        if (r.state == State::End) {
            runs.add(r.first, 0, State::End);
            break;
        }
        if (!holdsObject(r.state)) {
            runs.add(r.first, r.count, r.state);
            continue;
        }
        for (std::uint64_t p = r.first; p < r.end(); ++p) {
            const std::int64_t before = file.offset();
            object = file.read(nullptr, 0, copied);
            if (object.kind == TapFile::Kind::End) {
                error = QStringLiteral("%1 ends before position %2, where its map puts a %3 object")
                            .arg(shown(path))
                            .arg(p)
                            .arg(stateWord(r.state));
                return false;
            }
            const State found = stateOf(object);
            const bool flagged = found == State::Bad || found == State::Empty;
            const bool expectedFlagged = r.state == State::Bad || r.state == State::Empty;
            if (found != r.state && !(flagged && expectedFlagged)) {
                error = QStringLiteral(
                    "%1 and its map disagree at position %2: the map says %3, the file holds %4")
                            .arg(shown(path))
                            .arg(p)
                            .arg(stateWord(r.state), stateWord(found));
                return false;
            }
            runs.add(p, 1, found, before, std::uint64_t(file.offset() - before));
        }
    }
    const std::int64_t mapped = file.offset();
    if (file.read(nullptr, 0, copied).kind != TapFile::Kind::End) {
        error = QStringLiteral("%1 holds more than its map accounts for (from byte %2)")
                    .arg(shown(path))
                    .arg(mapped);
        return false;
    }
    if (!given.endKnown())
        layout.notes
            << QStringLiteral("the map of %1 does not know where the data ends").arg(shown(path));
    layout.fromMap = true;
    return runs.toMap(layout.map, std::uint64_t(size), {});
}

bool layoutByFile(const QByteArray &path, TapFile &file, std::int64_t size, Layout &layout)
{
    RunList runs;
    std::uint32_t copied = 0;
    TapFile::Object object;
    for (;;) {
        const std::int64_t before = file.offset();
        object = file.read(nullptr, 0, copied);
        if (object.kind == TapFile::Kind::End)
            break;
        runs.add(
            file.position() - 1, 1, stateOf(object), before, std::uint64_t(file.offset() - before));
    }
    const std::uint64_t held = file.position();
    bool endKnown = object.endOfMedium || file.offset() == size;
    if (!endKnown && held == 0)
        return false; // not one object: not a master at all
    if (!endKnown)
        layout.notes << damageNote(path, file.offset(), size);
    std::uint64_t end = held;
    // A run that stopped short of the end of data knew where it is, or that it did not know.
    RunRecord::Record record;
    if (endKnown && RunRecord::readBeside(path, record) && record.bytesWritten == size) {
        if (record.endOfData >= 0 && std::uint64_t(record.endOfData) >= held) {
            end = std::uint64_t(record.endOfData);
        } else if (record.verdict == RunRecord::Verdict::StopsShort
            || record.verdict == RunRecord::Verdict::Unfinished) {
            endKnown = false;
            layout.notes << QStringLiteral("%1 stops short, and its run record does not say "
                                           "where the data ends")
                                .arg(shown(path));
        }
    } else if (endKnown && path.endsWith(".partial")) {
        endKnown = false; // an unfinished run's file ends where the run stopped
    }
    if (endKnown) {
        runs.add(held, end - held, State::Untried);
        runs.add(end, 0, State::End);
    }
    return runs.toMap(layout.map, std::uint64_t(size), {});
}

} // namespace

State stateOf(const TapFile::Object &object)
{
    if (object.kind == TapFile::Kind::Mark)
        return State::Mark;
    if (!object.error)
        return State::Good;
    return object.length > 0 ? State::Bad : State::Empty;
}

bool holdsObject(State state)
{
    return state == State::Good || state == State::Bad || state == State::Empty
        || state == State::Mark;
}
void RunList::add(const Run &run)
{
    if (run.count == 0 && run.state != State::End)
        return;
    if (!m_runs.isEmpty() && joins(m_runs.last(), run)) {
        m_runs.last().count += run.count;
        m_runs.last().bytes += run.bytes;
        return;
    }
    m_runs.append(run);
}

void RunList::add(std::uint64_t first, std::uint64_t count, State state, std::int64_t offset,
    std::uint64_t bytes, int source)
{
    Run run;
    run.first = first;
    run.count = count;
    run.state = state;
    run.offset = offset;
    run.bytes = offset >= 0 ? bytes : 0;
    run.source = source;
    add(run);
}

bool RunList::toMap(Map &map, std::uint64_t fileBytes, const QStringList &sources) const
{
    Map header;
    header.partialBytes = fileBytes;
    header.sources = sources;
    QByteArray text = header.text();
    for (const Run &r : m_runs) {
        text += QByteArray::number(qulonglong(r.first)) + ' '
            + QByteArray::number(qulonglong(r.count)) + ' ' + stateWord(r.state).toLatin1() + ' '
            + (r.offset >= 0 ? QByteArray::number(qlonglong(r.offset)) : "-") + ' '
            + QByteArray::number(qulonglong(r.bytes));
        if (r.source > 0)
            text += ' ' + QByteArray::number(r.source);
        text += '\n';
    }
    QString error;
    return map.parse(text, error);
}

bool readLayout(const QByteArray &path, Layout &layout, QString &error)
{
    layout = Layout();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("%1 cannot be read: %2")
                    .arg(shown(path),
                        fd < 0 ? QString::fromLocal8Bit(strerror(errno))
                               : QStringLiteral("not a regular file"));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // A rescue's partial file holds its records in the order they were read, by its map
    // ("<master>.map"): it is read only once the rescue has made the master of it.
    const QByteArray masterName = path.left(path.size() - int(sizeof ".partial") + 1);
    if (path.endsWith(".partial") && ::access((masterName + ".map").constData(), F_OK) == 0) {
        ::close(fd);
        error = QStringLiteral("%1 is the partial file of a rescue that has not finished (its map "
                               "is %2): finish the rescue, then merge the master it makes")
                    .arg(shown(path), shown(masterName + ".map"));
        return false;
    }
    TapFile file(fd, st.st_size);
    bool done = false;
    const QByteArray mapPath = path + ".map";
    if (::access(mapPath.constData(), F_OK) == 0) {
        Map given;
        QString why;
        if (!given.load(mapPath, why)) {
            error = QStringLiteral("the map %1 cannot be read: %2").arg(shown(mapPath), why);
        } else {
            done = layoutByMap(path, given, file, st.st_size, layout, error);
        }
    } else {
        done = layoutByFile(path, file, st.st_size, layout);
        if (!done)
            error = QStringLiteral("%1 is not a .tap master: it does not start with a record "
                                   "or a tape mark")
                        .arg(shown(path));
    }
    ::close(fd);
    return done;
}

} // namespace Rescue
