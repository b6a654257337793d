#include "archive/rescue_map.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Rescue {

namespace {

struct Word
{
    State state;
    const char *word;
};

constexpr Word kWords[] = {
    { State::Good, "good" },
    { State::Bad, "bad" },
    { State::Empty, "empty" },
    { State::Untried, "untried" },
    { State::Mark, "mark" },
    { State::End, "end" },
};

constexpr std::uint64_t kTailBytes = 1u << 20;

bool holdsBytes(const Run &run)
{
    return run.offset >= 0;
}

/// Whether @p b can be added to the end of @p a as one line.
bool joinable(const Run &a, const Run &b)
{
    if (a.state != b.state || a.source != b.source || a.end() != b.first)
        return false;
    if (a.state == State::Bad || a.state == State::End
        || (a.state == State::Empty && holdsBytes(a)))
        return false;
    if (holdsBytes(a) != holdsBytes(b))
        return false;
    return !holdsBytes(a)
        || static_cast<std::uint64_t>(a.offset) + a.bytes == std::uint64_t(b.offset);
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool number(const QByteArray &text, std::uint64_t &value)
{
    bool ok = false;
    value = text.toULongLong(&ok);
    return ok && !text.startsWith('-') && !text.startsWith('+');
}

} // namespace

QString stateWord(State state)
{
    for (const Word &w : kWords)
        if (w.state == state)
            return QString::fromLatin1(w.word);
    return QString();
}

bool stateFromWord(const QString &word, State &state)
{
    for (const Word &w : kWords)
        if (word == QLatin1String(w.word)) {
            state = w.state;
            return true;
        }
    return false;
}

bool Map::set(
    std::uint64_t position, State state, std::int64_t offset, std::uint64_t bytes, int source)
{
    if (state == State::End) {
        setEnd(position);
        return true;
    }
    Run run;
    run.first = position;
    run.count = 1;
    run.state = state;
    run.offset = offset;
    run.bytes = offset >= 0 ? bytes : 0;
    run.source = source;
    return assign(run);
}

bool Map::setRange(std::uint64_t first, std::uint64_t count, State state)
{
    if (count == 0 || state == State::End)
        return state != State::End;
    Run run;
    run.first = first;
    run.count = count;
    run.state = state;
    return assign(run);
}

bool Map::assign(const Run &run)
{
    const std::uint64_t last = m_runs.isEmpty() ? 0 : m_runs.last().end();
    QVector<Run> kept;
    kept.reserve(m_runs.size() + 3);
    for (const Run &r : qAsConst(m_runs)) {
        if (r.state == State::End) {
            if (r.first >= run.end())
                kept.append(r);
            continue; // data at or past what was taken for the end: that end was wrong
        }
        if (r.end() <= run.first || r.first >= run.end()) {
            kept.append(r);
            continue;
        }
        if (holdsBytes(r) && r.count > 1)
            return false;
        if (r.first < run.first) {
            Run left = r;
            left.count = run.first - r.first;
            kept.append(left);
        }
        if (r.end() > run.end()) {
            Run right = r;
            right.first = run.end();
            right.count = r.end() - run.end();
            kept.append(right);
        }
    }
    if (run.first > last) {
        Run gap;
        gap.first = last;
        gap.count = run.first - last;
        kept.append(gap);
    }
    kept.append(run);
    std::sort(kept.begin(), kept.end(), [](const Run &a, const Run &b) {
        return a.first < b.first || (a.first == b.first && a.count < b.count);
    });
    m_runs = kept;
    normalise();
    return true;
}

void Map::setEnd(std::uint64_t position)
{
    QVector<Run> kept;
    for (const Run &r : qAsConst(m_runs)) {
        if (r.state == State::End || r.first >= position)
            continue;
        Run k = r;
        if (k.end() > position && !holdsBytes(k))
            k.count = position - k.first;
        kept.append(k);
    }
    const std::uint64_t last = kept.isEmpty() ? 0 : kept.last().end();
    if (last < position) {
        Run gap;
        gap.first = last;
        gap.count = position - last;
        kept.append(gap);
    }
    Run end;
    end.first = position;
    end.state = State::End;
    kept.append(end);
    m_runs = kept;
    normalise();
}

void Map::relocate(const QVector<std::int64_t> &offsets, std::uint64_t bytes)
{
    for (int i = 0; i < m_runs.size() && i < offsets.size(); ++i) {
        m_runs[i].offset = offsets[i];
        if (offsets[i] < 0)
            m_runs[i].bytes = 0;
    }
    partialBytes = bytes;
    normalise();
}

const Run *Map::runAt(std::uint64_t position) const
{
    auto it = std::upper_bound(m_runs.begin(), m_runs.end(), position,
        [](std::uint64_t p, const Run &r) { return p < r.first; });
    if (it == m_runs.begin())
        return nullptr;
    --it;
    if (position < it->end() || (it->state == State::End && position == it->first))
        return &*it;
    return nullptr;
}

State Map::stateAt(std::uint64_t position) const
{
    const Run *r = runAt(position);
    return r ? r->state : State::Untried;
}

std::uint64_t Map::firstUntried() const
{
    for (const Run &r : m_runs)
        if (r.state == State::Untried)
            return r.first;
    return m_runs.isEmpty() ? 0 : m_runs.last().end();
}

bool Map::endKnown() const
{
    return !m_runs.isEmpty() && m_runs.last().state == State::End;
}

QVector<Run> Map::unfinished() const
{
    QVector<Run> out;
    for (const Run &r : m_runs)
        if (r.state == State::Bad || r.state == State::Empty || r.state == State::Untried)
            out.append(r);
    return out;
}

bool Map::inTapeOrder() const
{
    std::uint64_t expected = 0;
    for (const Run &r : m_runs) {
        if (!holdsBytes(r))
            continue;
        if (static_cast<std::uint64_t>(r.offset) != expected)
            return false;
        expected += r.bytes;
    }
    return expected == partialBytes;
}

std::uint64_t Map::count(State state) const
{
    std::uint64_t n = 0;
    for (const Run &r : m_runs)
        if (r.state == state)
            n += r.count;
    return n;
}

QString Map::summary() const
{
    QStringList parts;
    const auto add = [&](State s, const char *one, const char *many) {
        const std::uint64_t n = count(s);
        if (n)
            parts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    add(State::Good, "good", "good");
    add(State::Bad, "bad with data", "bad with data");
    add(State::Empty, "bad with no data", "bad with no data");
    add(State::Untried, "not tried", "not tried");
    add(State::Mark, "tape mark", "tape marks");
    QString text
        = parts.isEmpty() ? QStringLiteral("nothing read") : parts.join(QStringLiteral(", "));
    if (endKnown())
        text += QStringLiteral("; end of data at %1").arg(m_runs.last().first);
    else
        text += QStringLiteral("; end of data not reached");
    return text;
}

QByteArray Map::text() const
{
    QByteArray out;
    out += "tarnwick-rescue-map 1\n";
    out += "partial-bytes " + QByteArray::number(qulonglong(partialBytes)) + '\n';
    out += "partial-tail " + (partialTail.isEmpty() ? QByteArray("-") : partialTail) + '\n';
    out += "pass " + QByteArray::number(pass) + '\n';
    out += "next " + QByteArray::number(qulonglong(next)) + '\n';
    for (int i = 0; i < sources.size(); ++i) {
        QByteArray name = sources[i].toUtf8();
        name.replace('\\', "\\\\").replace('\n', "\\n");
        out += "source " + QByteArray::number(i + 1) + ' ' + name + '\n';
    }
    out += "# first count state offset bytes [source]\n";
    for (const Run &r : m_runs) {
        out += QByteArray::number(qulonglong(r.first)) + ' '
            + QByteArray::number(qulonglong(r.count)) + ' ' + stateWord(r.state).toLatin1() + ' '
            + (r.offset >= 0 ? QByteArray::number(qlonglong(r.offset)) : QByteArray("-")) + ' '
            + QByteArray::number(qulonglong(r.bytes));
        if (r.source > 0)
            out += ' ' + QByteArray::number(r.source);
        out += '\n';
    }
    return out;
}

bool Map::parse(const QByteArray &text, QString &error)
{
    Map parsed;
    const QList<QByteArray> lines = text.split('\n');
    bool headed = false;
    std::uint64_t expected = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const auto fail = [&](const QString &why) {
            error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return false;
        };
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.simplified().split(' ');
        if (!headed) {
            if (f.size() != 2 || f[0] != "tarnwick-rescue-map" || f[1] != "1")
                return fail(QStringLiteral("not a rescue map of a version this program reads"));
            headed = true;
            continue;
        }
        std::uint64_t v = 0;
        if (f[0] == "partial-bytes" && f.size() == 2 && number(f[1], v)) {
            parsed.partialBytes = v;
        } else if (f[0] == "partial-tail" && f.size() == 2) {
            parsed.partialTail = f[1] == "-" ? QByteArray() : f[1];
        } else if (f[0] == "pass" && f.size() == 2 && number(f[1], v) && v < 1000000) {
            parsed.pass = static_cast<int>(v);
        } else if (f[0] == "next" && f.size() == 2 && number(f[1], v)) {
            parsed.next = v;
        } else if (f[0] == "source" && f.size() >= 3 && number(f[1], v)) {
            if (v != std::uint64_t(parsed.sources.size()) + 1)
                return fail(QStringLiteral("sources out of order"));
            QByteArray name = line.mid(line.indexOf(' ', line.indexOf(' ') + 1) + 1);
            QByteArray plain;
            for (int k = 0; k < name.size(); ++k) {
                if (name[k] == '\\' && k + 1 < name.size()) {
                    plain += name[k + 1] == 'n' ? '\n' : name[k + 1];
                    ++k;
                } else {
                    plain += name[k];
                }
            }
            parsed.sources << QString::fromUtf8(plain);
        } else if (f.size() == 5 || f.size() == 6) {
            Run r;
            std::uint64_t offset = 0;
            if (!number(f[0], r.first) || !number(f[1], r.count)
                || !stateFromWord(QString::fromLatin1(f[2]), r.state) || !number(f[4], r.bytes))
                return fail(QStringLiteral("not a run of the map"));
            if (f[3] == "-") {
                if (r.bytes != 0)
                    return fail(QStringLiteral("bytes without an offset"));
            } else if (!number(f[3], offset) || offset > std::uint64_t(INT64_MAX)) {
                return fail(QStringLiteral("not a run of the map"));
            } else {
                r.offset = static_cast<std::int64_t>(offset);
            }
            if (f.size() == 6) {
                if (!number(f[5], v) || v == 0 || v > std::uint64_t(parsed.sources.size()))
                    return fail(QStringLiteral("a source the map does not name"));
                r.source = static_cast<int>(v);
            }
            if (r.first != expected)
                return fail(
                    QStringLiteral("position %1 expected, %2 found").arg(expected).arg(r.first));
            if ((r.state == State::End) != (r.count == 0))
                return fail(QStringLiteral("only the end has no objects"));
            if (!parsed.m_runs.isEmpty() && parsed.m_runs.last().state == State::End)
                return fail(QStringLiteral("runs after the end of data"));
            if (r.offset >= 0 && std::uint64_t(r.offset) + r.bytes > parsed.partialBytes)
                return fail(QStringLiteral("bytes past the %1 the partial file holds")
                                .arg(parsed.partialBytes));
            if (r.offset < 0
                && (r.state == State::Good || r.state == State::Bad || r.state == State::Mark)
                && parsed.sources.isEmpty())
                return fail(
                    QStringLiteral("%1 objects without their bytes").arg(stateWord(r.state)));
            expected = r.end();
            parsed.m_runs.append(r);
        } else {
            return fail(QStringLiteral("not understood"));
        }
    }
    if (!headed) {
        error = QStringLiteral("empty, or not a rescue map");
        return false;
    }
    *this = parsed;
    return true;
}

bool Map::save(const QByteArray &path) const
{
    const QByteArray temporary = path + ".new";
    const int fd = ::open(
        temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (!writeAll(fd, text()) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        errno = saved;
        return false;
    }
    ::close(fd);
    if (::rename(temporary.constData(), path.constData()) != 0) {
        const int saved = errno;
        ::unlink(temporary.constData());
        errno = saved;
        return false;
    }
    const QByteArray folder = QFileInfo(QString::fromLocal8Bit(path)).absolutePath().toLocal8Bit();
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool Map::load(const QByteArray &path, QString &error)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    QByteArray text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<int>(n));
        if (text.size() > (256 << 20)) {
            ::close(fd);
            error = QStringLiteral("larger than any rescue map");
            return false;
        }
    }
    ::close(fd);
    return parse(text, error);
}

void Map::normalise()
{
    QVector<Run> out;
    out.reserve(m_runs.size());
    for (const Run &r : qAsConst(m_runs)) {
        if (r.count == 0 && r.state != State::End)
            continue;
        if (!out.isEmpty() && joinable(out.last(), r)) {
            out.last().count += r.count;
            out.last().bytes += r.bytes;
            continue;
        }
        out.append(r);
    }
    m_runs = out;
}

QByteArray tailChecksum(int fd, std::uint64_t length)
{
    const std::uint64_t take = std::min(length, kTailBytes);
    QByteArray bytes(static_cast<int>(take), '\0');
    std::uint64_t done = 0;
    while (done < take) {
        const ssize_t n = ::pread(
            fd, bytes.data() + done, take - done, static_cast<off_t>(length - take + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return QByteArray();
        done += static_cast<std::uint64_t>(n);
    }
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace Rescue
