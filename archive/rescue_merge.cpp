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
#include <memory>
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
/// A master read object by object, in step with its layout.
struct Source
{
    QByteArray path;
    Layout layout;
    int fd = -1;
    std::unique_ptr<TapFile> file;
    int run = 0; ///< the run of the layout at the position being merged
    std::vector<unsigned char> data;
    std::uint32_t length = 0; ///< of the record read at this position
    State state = State::Untried;

    ~Source()
    {
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
QString disagreement(const std::vector<std::unique_ptr<Source>> &sources)
{
    std::vector<std::uint64_t> starts;
    for (const auto &s : sources)
        for (const Run &r : s->layout.map.runs())
            starts.push_back(r.first);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    // Between two starts every source says one thing throughout.
    for (const std::uint64_t p : starts) {
        const Source *first = nullptr;
        Says said = Says::Nothing;
        for (const auto &source : sources) {
            const Says s = says(source->layout.map, p);
            if (s == Says::Nothing)
                continue;
            if (!first) {
                first = source.get();
                said = s;
            } else if (s != said) {
                return QStringLiteral("the masters do not agree at position %1: %2 holds %3 "
                                      "there, %4 holds %5; they are not of the same tape, or "
                                      "one of them was read wrongly")
                    .arg(p)
                    .arg(shown(first->path), saying(said), shown(source->path), saying(s));
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
            ? QStringLiteral("block %1: no master tried it").arg(run.first + 1)
            : QStringLiteral("blocks %1 to %2: no master tried them")
                  .arg(run.first + 1)
                  .arg(run.end());
    } else {
        problem.text = run.count == 1
            ? QStringLiteral("block %1: nothing of it was read").arg(run.first + 1)
            : QStringLiteral("blocks %1 to %2: nothing of them was read")
                  .arg(run.first + 1)
                  .arg(run.end());
    }
    result.problems.append(problem);
}

/// One merge: the sources in step, position by position, into the output.
class Merger
{
public:
    Merger(int out, const std::function<bool()> &stopRequested)
        : m_output(out)
        , m_tally(m_result)
        , m_stopRequested(stopRequested)
    {
    }

    void run(const QList<QByteArray> &paths, const QStringList &names)
    {
        if (!open(paths))
            return;
        m_result.refusal = disagreement(m_sources);
        if (!m_result.refusal.isEmpty())
            return;
        const std::uint64_t limit = findEnd();
        m_states.assign(m_sources.size(), State::Untried);
        for (std::uint64_t p = 0; p < limit && !m_output.error(); ++p) {
            if ((p & 0xFFF) == 0 && m_stopRequested && m_stopRequested()) {
                m_result.stopped = true;
                break;
            }
            if (!mergePosition(p))
                return;
        }
        m_tally.finish();
        if (!m_output.flush()) {
            m_result.writeError = m_output.error();
            return;
        }
        finish(names);
    }

    const MergeResult &result() const { return m_result; }

private:
    bool open(const QList<QByteArray> &paths)
    {
        for (const QByteArray &path : paths) {
            m_sources.push_back(std::make_unique<Source>());
            Source &s = *m_sources.back();
            s.path = path;
            if (!readLayout(path, s.layout, m_result.refusal))
                return false;
            m_result.notes += s.layout.notes;
            struct stat st;
            s.fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (s.fd < 0 || ::fstat(s.fd, &st) != 0) {
                m_result.refusal = QStringLiteral("%1 cannot be read: %2")
                                       .arg(shown(path), QString::fromLocal8Bit(strerror(errno)));
                return false;
            }
            s.file = std::make_unique<TapFile>(s.fd, st.st_size);
            s.data.resize(65536);
        }
        return true;
    }

    /// Where the data ends, and how far to merge. A source that ends before another's end
    /// did not try what lies between (the sources agree), so the latest end is taken.
    std::uint64_t findEnd()
    {
        std::uint64_t limit = 0;
        std::int64_t end = -1;
        for (const auto &s : m_sources) {
            const Map &map = s->layout.map;
            limit = std::max(limit, map.runs().isEmpty() ? 0 : map.runs().last().end());
            if (!map.endKnown())
                continue;
            const std::int64_t at = std::int64_t(map.runs().last().first);
            if (end >= 0 && end != at)
                m_result.notes << QStringLiteral("the masters end their data at different "
                                                 "positions; what lies between is not tried");
            end = std::max(end, at);
        }
        m_result.endOfData = end;
        return end >= 0 ? std::uint64_t(end) : limit;
    }

    /// Reads every source's object at @p position and writes the best; false when a source
    /// is not what its layout said.
    bool mergePosition(std::uint64_t position)
    {
        int good = -1, bad = -1, empty = -1, mark = -1;
        for (int i = 0; i < int(m_sources.size()); ++i) {
            Source &s = *m_sources[std::size_t(i)];
            State state = s.stateAt(position);
            if (state == State::End)
                state = State::Untried;
            m_states[std::size_t(i)] = state;
            if (!holdsObject(state))
                continue;
            if (!s.readObject(state)) {
                m_result.refusal = QStringLiteral("%1 changed while it was merged (at position %2)")
                                       .arg(shown(s.path))
                                       .arg(position);
                return false;
            }
            if (state == State::Good && good < 0)
                good = i;
            else if (state == State::Bad
                && (bad < 0 || s.length > m_sources[std::size_t(bad)]->length))
                bad = i;
            else if (state == State::Empty && empty < 0)
                empty = i;
            else if (state == State::Mark && mark < 0)
                mark = i;
        }
        if (good >= 0)
            compareGoodReads(position, good);
        write(position, good >= 0 ? good : bad >= 0 ? bad : empty >= 0 ? empty : mark);
        return true;
    }

    void compareGoodReads(std::uint64_t position, int kept)
    {
        const Source &first = *m_sources[std::size_t(kept)];
        Difference difference;
        difference.position = position;
        for (std::size_t i = std::size_t(kept) + 1; i < m_sources.size(); ++i)
            if (m_states[i] == State::Good && !m_sources[i]->sameRecord(first))
                difference.reads.append({ int(i) + 1, m_sources[i]->checksum() });
        if (difference.reads.isEmpty())
            return;
        difference.reads.prepend({ kept + 1, first.checksum() });
        // Masters of different tapes would differ everywhere: a count then says it.
        if (++m_result.differing <= kDifferencesKept)
            m_result.differences.append(difference);
    }

    /// Writes source @p from's object at @p position (-1: no master tried it).
    void write(std::uint64_t position, int from)
    {
        if (from < 0) {
            m_runs.add(position, 1, State::Untried);
            return;
        }
        const Source &s = *m_sources[std::size_t(from)];
        const State state = m_states[std::size_t(from)];
        const std::uint64_t at = m_output.offset();
        if (state == State::Mark) {
            m_output.mark();
            m_tally.mark();
        } else {
            const std::uint32_t length = state == State::Empty ? 0 : s.length;
            m_output.record(s.data.data(), length, state != State::Good);
            m_tally.record(length);
            if (state == State::Bad)
                noteBad(position, from);
        }
        m_runs.add(position, 1, state, std::int64_t(at), m_output.offset() - at, from + 1);
    }

    void noteBad(std::uint64_t position, int from)
    {
        if (m_result.problems.size() >= kProblemsKept) {
            ++m_problemsLeftOut;
            return;
        }
        RunRecord::Problem problem;
        problem.block = position + 1;
        problem.text = QStringLiteral("block %1: no master read it whole; kept as the longest "
                                      "read, %2 bytes from %3, flagged unreadable")
                           .arg(position + 1)
                           .arg(m_sources[std::size_t(from)]->length)
                           .arg(shown(m_sources[std::size_t(from)]->path));
        m_result.problems.append(problem);
    }

    void finish(const QStringList &names)
    {
        if (m_result.endOfData >= 0 && !m_result.stopped)
            m_runs.add(std::uint64_t(m_result.endOfData), 0, State::End);
        if (!m_runs.toMap(m_result.map, m_output.offset(), names)) {
            m_result.refusal = QStringLiteral("the merged map could not be made");
            return;
        }
        for (const Run &r : m_result.map.runs()) {
            if (r.state != State::Empty && r.state != State::Untried)
                continue;
            if (m_result.problems.size() < kProblemsKept)
                noteProblem(m_result, r);
            else
                ++m_problemsLeftOut;
        }
        if (m_problemsLeftOut > 0) {
            RunRecord::Problem rest;
            rest.block = m_result.problems.last().block;
            rest.text = QStringLiteral("and %1 more not whole; the map lists them all")
                            .arg(m_problemsLeftOut);
            m_result.problems.append(rest);
        }
        std::stable_sort(m_result.problems.begin(), m_result.problems.end(),
            [](const RunRecord::Problem &a, const RunRecord::Problem &b) {
                return a.block < b.block;
            });
        judge(m_result);
    }

    std::vector<std::unique_ptr<Source>> m_sources;
    std::vector<State> m_states;
    MergeResult m_result;
    Output m_output;
    Tally m_tally;
    RunList m_runs;
    std::function<bool()> m_stopRequested;
    std::uint64_t m_problemsLeftOut = 0;
};

} // namespace

MergeResult merge(const QList<QByteArray> &paths, const QStringList &names, int out,
    const std::function<bool()> &stopRequested)
{
    Merger merger(out, stopRequested);
    merger.run(paths, names);
    return merger.result();
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
