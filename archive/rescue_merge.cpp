#include "archive/rescue_merge.h"

#include "platform/tap/tap_file.h"
#include "platform/tap/tap_format.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Rescue {

namespace {

constexpr std::size_t kOutputBuffer = 1u << 20;
constexpr std::uint64_t kDifferencesKept = 10000;
constexpr int kProblemsKept = 10000; ///< the run record stays readable; the map has them all

QString shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

/// Runs appended in position order, joined as the map joins them; linear where
/// Map::set() would rewrite the map for every object.
class RunList
{
public:
    void add(const Run &run)
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
    void add(std::uint64_t first, std::uint64_t count, State state, std::int64_t offset = -1,
        std::uint64_t bytes = 0, int source = 0)
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
    std::uint64_t end() const { return m_runs.isEmpty() ? 0 : m_runs.last().end(); }

    /// The runs as a map of a file of @p fileBytes bytes; false when they do not make one.
    bool toMap(Map &map, std::uint64_t fileBytes, const QStringList &sources) const
    {
        Map header;
        header.partialBytes = fileBytes;
        header.sources = sources;
        QByteArray text = header.text();
        for (const Run &r : m_runs) {
            text += QByteArray::number(qulonglong(r.first)) + ' '
                + QByteArray::number(qulonglong(r.count)) + ' ' + stateWord(r.state).toLatin1()
                + ' ' + (r.offset >= 0 ? QByteArray::number(qlonglong(r.offset)) : "-") + ' '
                + QByteArray::number(qulonglong(r.bytes));
            if (r.source > 0)
                text += ' ' + QByteArray::number(r.source);
            text += '\n';
        }
        QString error;
        return map.parse(text, error);
    }

private:
    static bool joins(const Run &a, const Run &b)
    {
        if (a.state != b.state || a.source != b.source || a.end() != b.first)
            return false;
        if (a.state == State::Bad || a.state == State::End)
            return false;
        if ((a.offset >= 0) != (b.offset >= 0))
            return false;
        return a.offset < 0 || std::uint64_t(a.offset) + a.bytes == std::uint64_t(b.offset);
    }

    QVector<Run> m_runs;
};

/// The state a record of the file stands for.
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

/// A master read object by object, in step with its layout.
struct Source
{
    QByteArray path;
    Layout layout;
    int fd = -1;
    std::int64_t size = 0;
    TapFile *file = nullptr;
    int run = 0; ///< the run of the layout at the position being merged
    std::vector<unsigned char> data;
    std::uint32_t length = 0; ///< of the record read at this position
    State state = State::Untried;

    ~Source()
    {
        delete file;
        if (fd >= 0)
            ::close(fd);
    }

    /// The layout's state at @p position (positions only grow); Untried past its runs.
    State stateAt(std::uint64_t position)
    {
        const QVector<Run> &runs = layout.map.runs();
        while (run < runs.size() && runs[run].state != State::End && runs[run].end() <= position)
            ++run;
        if (run >= runs.size())
            return State::Untried;
        const Run &r = runs[run];
        if (r.state == State::End)
            return position >= r.first ? State::End : State::Untried;
        return r.first <= position ? r.state : State::Untried;
    }

    /// Reads the object at the position; false when the file is not what its layout said.
    bool readObject(State expected)
    {
        std::uint32_t copied = 0;
        const TapFile::Object object = file->read(data.data(), std::uint32_t(data.size()), copied);
        if (object.kind == TapFile::Kind::End || stateOf(object) != expected)
            return false;
        length = object.length;
        if (object.kind == TapFile::Kind::Record && copied < object.length) {
            data.resize(object.length);
            // The record ends just before the offset: its word, its pad byte, its data.
            const std::int64_t at = file->offset() - 4 - (object.length & 1) - object.length;
            std::uint32_t done = 0;
            while (done < object.length) {
                const ssize_t n = ::pread(fd, data.data() + done, object.length - done, at + done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return false;
                done += std::uint32_t(n);
            }
        }
        return true;
    }

    bool sameRecord(const Source &other) const
    {
        return length == other.length && std::memcmp(data.data(), other.data.data(), length) == 0;
    }

    QByteArray checksum() const
    {
        return QCryptographicHash::hash(
            QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), int(length)),
            QCryptographicHash::Sha256)
            .toHex();
    }
};

/// What a source says is at a position, for the check that sources agree.
enum class Says { Nothing, Record, Mark, NoData };

Says says(const Map &map, std::uint64_t position)
{
    const Run *run = map.runAt(position);
    if (!run) {
        const QVector<Run> &runs = map.runs();
        return map.endKnown() && position >= runs.last().first ? Says::NoData : Says::Nothing;
    }
    switch (run->state) {
    case State::Good:
    case State::Bad:
    case State::Empty:
        return Says::Record;
    case State::Mark:
        return Says::Mark;
    case State::End:
        return Says::NoData;
    case State::Untried:
        break;
    }
    return Says::Nothing;
}

QString saying(Says what)
{
    switch (what) {
    case Says::Record:
        return QStringLiteral("a record");
    case Says::Mark:
        return QStringLiteral("a tape mark");
    case Says::NoData:
        return QStringLiteral("the end of data");
    case Says::Nothing:
        break;
    }
    return QStringLiteral("nothing tried");
}

/// Why the sources cannot be merged, or empty when they agree on every mark and the end.
QString disagreement(const QVector<Source *> &sources)
{
    std::vector<std::uint64_t> starts;
    for (const Source *s : sources)
        for (const Run &r : s->layout.map.runs())
            starts.push_back(r.first);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    // Between two starts every source says one thing throughout.
    for (const std::uint64_t p : starts) {
        int first = -1;
        Says said = Says::Nothing;
        for (int i = 0; i < sources.size(); ++i) {
            const Says s = says(sources[i]->layout.map, p);
            if (s == Says::Nothing)
                continue;
            if (first < 0) {
                first = i;
                said = s;
            } else if (s != said) {
                return QStringLiteral("the masters do not agree at position %1: %2 holds %3 "
                                      "there, %4 holds %5; they are not of the same tape, or "
                                      "one of them was read wrongly")
                    .arg(p)
                    .arg(shown(sources[first]->path), saying(said), shown(sources[i]->path),
                        saying(s));
            }
        }
    }
    return QString();
}

class Output
{
public:
    explicit Output(int fd)
        : m_fd(fd)
    {
        m_buffer.reserve(kOutputBuffer);
    }
    std::uint64_t offset() const { return m_offset; }
    int error() const { return m_error; }

    void mark() { put(nullptr, 0, false, true); }
    void record(const unsigned char *data, std::uint32_t length, bool error)
    {
        put(data, length, error, false);
    }
    bool flush()
    {
        const unsigned char *p = m_buffer.data();
        std::size_t left = m_buffer.size();
        while (left > 0 && m_error == 0) {
            const ssize_t n = ::write(m_fd, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                m_error = errno;
                break;
            }
            p += n;
            left -= std::size_t(n);
        }
        m_buffer.clear();
        return m_error == 0;
    }

private:
    void put(const unsigned char *data, std::uint32_t length, bool error, bool mark)
    {
        const std::size_t need = mark ? 4 : length + TapFormat::kRecordFraming;
        if (m_buffer.size() + need > kOutputBuffer)
            flush();
        const std::size_t at = m_buffer.size();
        m_buffer.resize(at + need);
        unsigned char *p = m_buffer.data() + at;
        if (mark) {
            TapFormat::putWord(p, TapFormat::kTapeMark);
        } else {
            if (length)
                std::memcpy(p + 4, data, length);
            m_buffer.resize(at + TapFormat::frameRecord(p, length, error));
        }
        m_offset += m_buffer.size() - at;
        if (m_buffer.size() >= kOutputBuffer)
            flush();
    }

    int m_fd;
    std::vector<unsigned char> m_buffer;
    std::uint64_t m_offset = 0;
    int m_error = 0;
};

/// Counts what the output holds, for the run record.
class Tally
{
public:
    explicit Tally(MergeResult &result)
        : m_result(result)
    {
        m_result.files.append(RunRecord::TapeFile());
    }
    void record(std::uint32_t length)
    {
        ++m_result.files.last().records;
        ++m_result.files.last().lengths[length];
        ++m_result.objects;
    }
    void mark()
    {
        ++m_result.objects;
        ++m_result.marks;
        m_result.files.append(RunRecord::TapeFile());
    }
    void finish()
    {
        if (m_result.files.size() > 1 && m_result.files.last().records == 0)
            m_result.files.removeLast();
    }

private:
    MergeResult &m_result;
};

void judge(MergeResult &result)
{
    const Map &map = result.map;
    const std::uint64_t bad = map.count(State::Bad);
    const std::uint64_t empty = map.count(State::Empty);
    const std::uint64_t untried = map.count(State::Untried);
    if (!map.endKnown()) {
        result.verdict = RunRecord::Verdict::StopsShort;
        result.verdictText = QStringLiteral("no source reached the end of data: the merged "
                                            "master may stop short of it");
    } else if (untried > 0) {
        result.verdict = RunRecord::Verdict::StopsShort;
        result.verdictText
            = QStringLiteral("%1 records were read by no source: the merged master leaves "
                             "them out")
                  .arg(untried);
    } else if (bad + empty > 0) {
        result.verdict = RunRecord::Verdict::Damaged;
        result.verdictText = QStringLiteral("read to the end of data, but %1 records were "
                                            "read whole by no source")
                                 .arg(bad + empty);
    } else {
        result.verdict = RunRecord::Verdict::Complete;
        result.verdictText = QStringLiteral("image complete");
    }
    if (result.differing > 0)
        result.verdictText += QStringLiteral("; %1 records were read good by more than one "
                                             "master and the reads differ: the first master's "
                                             "read is kept")
                                  .arg(result.differing);
}

void noteProblem(MergeResult &result, const Run &run)
{
    RunRecord::Problem problem;
    problem.block = run.first + 1;
    problem.kind = RunRecord::ProblemKind::Unreadable;
    if (run.state == State::Untried) {
        problem.text = run.count == 1
            ? QStringLiteral("block %1: no source tried it").arg(run.first + 1)
            : QStringLiteral("blocks %1 to %2: no source tried them")
                  .arg(run.first + 1)
                  .arg(run.end());
    } else if (run.state == State::Bad) {
        problem.text = QStringLiteral("block %1: every source that read it read it with an "
                                      "error; the longest read is kept, flagged unreadable")
                           .arg(run.first + 1);
    } else {
        problem.text = run.count == 1
            ? QStringLiteral("block %1: nothing of it was read").arg(run.first + 1)
            : QStringLiteral("blocks %1 to %2: nothing of them was read")
                  .arg(run.first + 1)
                  .arg(run.end());
    }
    result.problems.append(problem);
}

} // namespace

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
            error = QStringLiteral("%1 cannot be read as a master").arg(shown(path));
    }
    ::close(fd);
    return done;
}

MergeResult merge(const QList<QByteArray> &paths, const QStringList &names, int out,
    const std::function<bool()> &stopRequested)
{
    MergeResult result;
    QVector<Source *> sources;
    const auto cleanUp = [&sources] { qDeleteAll(sources); };
    for (const QByteArray &path : paths) {
        auto *s = new Source;
        sources.append(s);
        s->path = path;
        if (!readLayout(path, s->layout, result.refusal)) {
            cleanUp();
            return result;
        }
        result.notes += s->layout.notes;
        struct stat st;
        s->fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (s->fd < 0 || ::fstat(s->fd, &st) != 0) {
            result.refusal = QStringLiteral("%1 cannot be read: %2")
                                 .arg(shown(path), QString::fromLocal8Bit(strerror(errno)));
            cleanUp();
            return result;
        }
        s->size = st.st_size;
        s->file = new TapFile(s->fd, s->size);
        s->data.resize(65536);
    }
    result.refusal = disagreement(sources);
    if (!result.refusal.isEmpty()) {
        cleanUp();
        return result;
    }
    // Where the data ends: a source that stopped before another's end did not try what
    // lies between (the check above holds them to it), so the latest end is taken.
    std::uint64_t limit = 0;
    std::int64_t end = -1;
    for (const Source *s : qAsConst(sources)) {
        const Map &map = s->layout.map;
        const std::uint64_t last = map.runs().isEmpty() ? 0 : map.runs().last().end();
        limit = std::max(limit, last);
        if (map.endKnown()) {
            if (end >= 0 && std::uint64_t(end) != map.runs().last().first)
                result.notes << QStringLiteral("the masters end their data at different "
                                               "positions; what lies between is not tried");
            end = std::max<std::int64_t>(end, std::int64_t(map.runs().last().first));
        }
    }
    if (end >= 0)
        limit = std::uint64_t(end);
    result.endOfData = end;

    Output output(out);
    Tally tally(result);
    RunList runs;
    const int n = sources.size();
    std::vector<State> states(std::size_t(n), State::Untried);
    for (std::uint64_t p = 0; p < limit; ++p) {
        if ((p & 0xFFF) == 0 && stopRequested && stopRequested()) {
            result.stopped = true;
            break;
        }
        int good = -1, bad = -1, empty = -1, mark = -1;
        for (int i = 0; i < n; ++i) {
            Source &s = *sources[i];
            State state = s.stateAt(p);
            if (state == State::End)
                state = State::Untried;
            states[std::size_t(i)] = state;
            if (!holdsObject(state))
                continue;
            if (!s.readObject(state)) {
                result.refusal = QStringLiteral("%1 changed while it was merged (at position %2)")
                                     .arg(shown(s.path))
                                     .arg(p);
                cleanUp();
                return result;
            }
            if (state == State::Good && good < 0)
                good = i;
            else if (state == State::Bad && (bad < 0 || s.length > sources[bad]->length))
                bad = i;
            else if (state == State::Empty && empty < 0)
                empty = i;
            else if (state == State::Mark && mark < 0)
                mark = i;
        }
        if (good >= 0) {
            Difference difference;
            difference.position = p;
            for (int i = good + 1; i < n; ++i)
                if (states[std::size_t(i)] == State::Good
                    && !sources[i]->sameRecord(*sources[good]))
                    difference.reads.append({ i + 1, sources[i]->checksum() });
            if (!difference.reads.isEmpty()) {
                difference.reads.prepend({ good + 1, sources[good]->checksum() });
                // Masters of different tapes would differ everywhere: a count then says it.
                if (++result.differing <= kDifferencesKept)
                    result.differences.append(difference);
            }
        }
        const std::uint64_t at = output.offset();
        const int from = good >= 0 ? good : bad >= 0 ? bad : empty >= 0 ? empty : mark;
        if (from < 0) {
            runs.add(p, 1, State::Untried);
            continue;
        }
        const Source &s = *sources[from];
        if (states[std::size_t(from)] == State::Mark) {
            output.mark();
            tally.mark();
        } else {
            output.record(s.data.data(), from == empty ? 0 : s.length, from != good);
            tally.record(from == empty ? 0 : s.length);
        }
        runs.add(p, 1, states[std::size_t(from)], std::int64_t(at), output.offset() - at, from + 1);
        if (output.error())
            break;
    }
    tally.finish();
    if (!output.flush() || output.error()) {
        result.writeError = output.error();
        cleanUp();
        return result;
    }
    if (end >= 0 && !result.stopped)
        runs.add(std::uint64_t(end), 0, State::End);
    cleanUp();
    if (!runs.toMap(result.map, output.offset(), names)) {
        result.refusal = QStringLiteral("the merged map could not be made");
        return result;
    }
    std::uint64_t more = 0;
    for (const Run &r : result.map.runs()) {
        if (r.state != State::Bad && r.state != State::Empty && r.state != State::Untried)
            continue;
        if (result.problems.size() < kProblemsKept)
            noteProblem(result, r);
        else
            ++more;
    }
    if (more > 0) {
        RunRecord::Problem rest;
        rest.block = result.problems.last().block;
        rest.text
            = QStringLiteral("and %1 more stretches not whole; the map lists them all").arg(more);
        result.problems.append(rest);
    }
    judge(result);
    return result;
}

QJsonArray differencesToJson(const QVector<Difference> &differences, int limit)
{
    QJsonArray array;
    for (int i = 0; i < differences.size() && i < limit; ++i) {
        QJsonArray reads;
        for (const DifferingRead &read : differences[i].reads)
            reads.append(QJsonObject { { QStringLiteral("source"), read.source },
                { QStringLiteral("sha256"), QString::fromLatin1(read.sha256) } });
        array.append(QJsonObject { { QStringLiteral("position"), qint64(differences[i].position) },
            { QStringLiteral("reads"), reads } });
    }
    return array;
}

} // namespace Rescue
