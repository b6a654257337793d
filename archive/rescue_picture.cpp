#include "archive/rescue_picture.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Rescue {

namespace {

constexpr double kLeft = 20;
constexpr double kStripWidth = 1000;
constexpr double kStripTop = 58;
constexpr double kStripHeight = 40;
constexpr double kDamagedWidth = 3; ///< the narrowest a damaged stretch is drawn
constexpr double kGoodWidth = 1;
constexpr double kLabelGap = 8; ///< space after a file number before the next
constexpr double kDigitWidth = 7.5;
/// More stretches than this are drawn by slices of the tape, with bars for their damage.
constexpr int kMostStretches = 240;
constexpr double kLeastBar = 5; ///< the least height of a state's share in a slice

/// How the picture draws a state; tape marks are good ground with a tick.
enum Colour { Good, Bad, Empty, Untried };

struct Shade
{
    const char *fill;
    const char *name;
};

constexpr Shade kShades[] = {
    { "#3c9d4a", "good" },
    { "#f0a020", "bad with data" },
    { "#c8283c", "bad with no data" },
    { "#c4c4c4", "not tried" },
};

Colour colourOf(State state)
{
    switch (state) {
    case State::Bad:
        return Bad;
    case State::Empty:
        return Empty;
    case State::Untried:
        return Untried;
    default:
        return Good;
    }
}

/// Which of two colours a slice holding both is drawn in: the damage that needs most care.
Colour worse(Colour a, Colour b)
{
    static constexpr int kRank[] = { 0, 2, 3, 1 }; // good, bad, empty, untried
    return kRank[a] >= kRank[b] ? a : b;
}

struct Stretch
{
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    Colour colour = Good; ///< the worst state it holds
    std::uint64_t held[4] = {}; ///< objects per colour, for a slice of several states
    bool mixed = false;
    double x = 0;
    double width = 0;
};

std::vector<Stretch> stretchesOf(const Map &map)
{
    std::vector<Stretch> out;
    for (const Run &r : map.runs()) {
        if (r.state == State::End)
            break;
        const Colour c = colourOf(r.state);
        if (!out.empty() && out.back().colour == c
            && out.back().first + out.back().count == r.first) {
            out.back().count += r.count;
        } else {
            out.push_back({ r.first, r.count, c });
        }
        out.back().held[c] += r.count;
    }
    return out;
}

/// The tape cut into @p slices equal slices, each with what it holds of every state.
std::vector<Stretch> sliced(const std::vector<Stretch> &stretches, int slices)
{
    const std::uint64_t total = stretches.back().first + stretches.back().count;
    const std::uint64_t step = std::max<std::uint64_t>(1, (total + slices - 1) / slices);
    std::vector<Stretch> out;
    std::size_t i = 0;
    for (std::uint64_t first = 0; first < total; first += step) {
        const std::uint64_t end = std::min(total, first + step);
        Stretch slice { first, end - first, Good };
        int colours = 0;
        for (; i < stretches.size() && stretches[i].first < end; ++i) {
            const Stretch &st = stretches[i];
            const std::uint64_t from = std::max(first, st.first);
            const std::uint64_t to = std::min(end, st.first + st.count);
            if (slice.held[st.colour] == 0)
                ++colours;
            slice.held[st.colour] += to - from;
            slice.colour = colours == 1 ? st.colour : worse(slice.colour, st.colour);
            if (st.first + st.count > end)
                break; // it goes on into the next slice
        }
        slice.mixed = colours > 1;
        if (!out.empty() && !out.back().mixed && !slice.mixed
            && out.back().colour == slice.colour) {
            out.back().count += slice.count;
            out.back().held[slice.colour] += slice.count;
        } else {
            out.push_back(slice);
        }
    }
    return out;
}

/// Widths: each stretch its least, the rest shared by the square root of the length, so a
/// long stretch is drawn shorter than its share and short damage still shows.
void layOut(std::vector<Stretch> &stretches)
{
    double least = 0, weights = 0;
    for (const Stretch &s : stretches) {
        least += s.colour == Good ? kGoodWidth : kDamagedWidth;
        weights += std::sqrt(double(s.count));
    }
    const double spare = std::max(0.0, kStripWidth - least);
    double x = kLeft;
    for (Stretch &s : stretches) {
        s.x = x;
        s.width = (s.colour == Good ? kGoodWidth : kDamagedWidth)
            + (weights > 0 ? spare * std::sqrt(double(s.count)) / weights : spare);
        x += s.width;
    }
    // Rounding aside, the strip ends at its width whatever the least widths took.
    const double scale = kStripWidth / (x - kLeft);
    for (Stretch &s : stretches) {
        s.x = kLeft + (s.x - kLeft) * scale;
        s.width *= scale;
    }
}

double xOf(const std::vector<Stretch> &stretches, std::uint64_t position)
{
    auto it = std::upper_bound(stretches.begin(), stretches.end(), position,
        [](std::uint64_t p, const Stretch &s) { return p < s.first; });
    if (it == stretches.begin())
        return kLeft;
    --it;
    const double within
        = double(position - it->first) / double(std::max<std::uint64_t>(1, it->count));
    return it->x + it->width * std::min(1.0, within);
}

/// @p text for SVG: markup escaped, control characters (not allowed in XML) shown as "?".
QString escaped(const QString &text)
{
    QString plain = text;
    for (QChar &c : plain)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0xFFFE
            || c.unicode() == 0xFFFF)
            c = QLatin1Char('?');
    return plain.toHtmlEscaped();
}

QString num(double value)
{
    return QString::number(value, 'f', 2);
}

QString countText(std::uint64_t n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

constexpr double kRight = kLeft + kStripWidth;
constexpr double kBottom = kStripTop + kStripHeight;

void drawStrip(QTextStream &s, const std::vector<Stretch> &stretches)
{
    s << "<g id=\"strip\">\n";
    for (const Stretch &st : stretches) {
        const std::uint64_t last = st.count ? st.first + st.count - 1 : st.first;
        QStringList held;
        for (int c : { Good, Bad, Empty, Untried })
            if (st.held[c])
                held << QStringLiteral("%1 %2").arg(st.held[c]).arg(QLatin1String(kShades[c].name));
        s << "<rect x=\"" << num(st.x) << "\" y=\"" << kStripTop << "\" width=\"" << num(st.width)
          << "\" height=\"" << kStripHeight << "\" fill=\""
          << kShades[st.mixed ? Good : st.colour].fill << "\"><title>"
          << (st.count == 1 ? QStringLiteral("position %1").arg(st.first)
                            : QStringLiteral("positions %1 to %2").arg(st.first).arg(last))
          << ": " << held.join(QStringLiteral(", ")) << "</title></rect>\n";
        if (!st.mixed)
            continue;
        // A slice of several states: its damage stacked from the kBottom, by its share.
        double top = kStripTop + kStripHeight;
        for (int c : { Empty, Bad, Untried }) {
            if (!st.held[c])
                continue;
            const double h = std::min(top - kStripTop,
                std::max(kLeastBar, kStripHeight * double(st.held[c]) / double(st.count)));
            top -= h;
            s << "<rect x=\"" << num(st.x) << "\" y=\"" << num(top) << "\" width=\""
              << num(st.width) << "\" height=\"" << num(h) << "\" fill=\"" << kShades[c].fill
              << "\"/>\n";
        }
    }
    s << "</g>\n";
}

void drawMarks(QTextStream &s, const Map &map, const std::vector<Stretch> &stretches)
{
    // Tape marks: one tick per place they are drawn at, the file number where there is room.
    s << "<g id=\"marks\" stroke=\"#000000\" stroke-width=\"1\">\n";
    s << "<text x=\"" << kLeft << "\" y=\"" << kStripTop - 4 << "\" stroke=\"none\">1</text>\n";
    double lastTick = -1, lastLabel = kLeft, lastWidth = kLabelGap + kDigitWidth;
    std::uint64_t file = 1;
    for (const Run &r : map.runs()) {
        if (r.state != State::Mark)
            continue;
        for (std::uint64_t p = r.first; p < r.end(); ++p) {
            ++file;
            const double x = std::round(xOf(stretches, p));
            if (x != lastTick)
                s << "<line x1=\"" << num(x) << "\" y1=\"" << kStripTop - 2 << "\" x2=\"" << num(x)
                  << "\" y2=\"" << kBottom + 4 << "\"/>\n";
            lastTick = x;
            if (x - lastLabel >= lastWidth && x < kRight - 8) {
                s << "<text x=\"" << num(x + 2) << "\" y=\"" << kStripTop - 4
                  << "\" stroke=\"none\">" << file << "</text>\n";
                lastLabel = x;
                lastWidth = kLabelGap + kDigitWidth * QString::number(file).size();
            }
        }
    }
    s << "</g>\n";
}

void drawEnds(QTextStream &s, const Map &map)
{
    // The ends: position 0, and the end of data or where knowledge stops.
    s << "<text x=\"" << kLeft << "\" y=\"" << kBottom + 18 << "\">0</text>\n";
    if (map.endKnown()) {
        s << "<rect x=\"" << num(kRight - 1) << "\" y=\"" << kStripTop - 6
          << "\" width=\"3\" height=\"" << kStripHeight + 12 << "\" fill=\"#000000\"/>\n"
          << "<text x=\"" << kRight << "\" y=\"" << kBottom + 18
          << "\" text-anchor=\"end\">end of data at " << map.runs().last().first << "</text>\n";
    } else {
        s << "<text x=\"" << kRight << "\" y=\"" << kBottom + 18
          << "\" text-anchor=\"end\">end of data not reached</text>\n";
    }
}

void drawLegend(QTextStream &s, const Map &map, bool bySlice)
{
    s << "<g id=\"legend\">\n";
    const State states[] = { State::Good, State::Bad, State::Empty, State::Untried };
    const char *ones[] = { "good record", "bad with data", "bad with no data", "not tried" };
    const char *manys[] = { "good records", "bad with data", "bad with no data", "not tried" };
    double x = kLeft;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t n = map.count(states[i]);
        const QString label = countText(n, ones[i], manys[i]);
        s << "<rect x=\"" << x << "\" y=\"" << kBottom + 34
          << "\" width=\"14\" height=\"14\" fill=\"" << kShades[i].fill
          << "\" stroke=\"#555555\"/>\n"
          << "<text x=\"" << x + 20 << "\" y=\"" << kBottom + 46 << "\" data-state=\""
          << stateWord(states[i]) << "\" data-count=\"" << n << "\">" << label << "</text>\n";
        x += 40 + 7.5 * label.size();
    }
    const std::uint64_t marks = map.count(State::Mark);
    x = kLeft; // on a line of its own: the counts above may be long
    s << "<line x1=\"" << x + 7 << "\" y1=\"" << kBottom + 56 << "\" x2=\"" << x + 7 << "\" y2=\""
      << kBottom + 74 << "\" stroke=\"#000000\"/>\n"
      << "<text x=\"" << x + 20 << "\" y=\"" << kBottom + 70
      << "\" data-state=\"mark\" data-count=\"" << marks << "\">"
      << countText(marks, "tape mark", "tape marks")
      << " (numbered by the file that follows)</text>\n";
    if (bySlice)
        s << "<text x=\"" << kLeft + 400 << "\" y=\"" << kBottom + 70
          << "\">drawn in slices, too many stretches to draw one by one: "
             "the bars show each slice's damage</text>\n";
    s << "</g>\n";
}

} // namespace

QByteArray picture(const Map &map, const QString &title)
{
    std::vector<Stretch> stretches = stretchesOf(map);
    if (stretches.empty())
        stretches.push_back({ 0, 0, Untried });
    const bool bySlice = int(stretches.size()) > kMostStretches;
    if (bySlice)
        stretches = sliced(stretches, kMostStretches);
    layOut(stretches);

    QString svg;
    QTextStream s(&svg);
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << int(kRight + kLeft)
      << "\" height=\"190\" viewBox=\"0 0 " << int(kRight + kLeft) << " 190\" "
      << "font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
      << "<text x=\"" << kLeft << "\" y=\"20\" font-size=\"15\" font-weight=\"bold\">"
      << escaped(title) << "</text>\n"
      << "<text x=\"" << kLeft << "\" y=\"38\" fill=\"#444444\">" << escaped(map.summary())
      << "</text>\n";
    drawStrip(s, stretches);
    drawMarks(s, map, stretches);
    drawEnds(s, map);
    drawLegend(s, map, bySlice);
    s << "</svg>\n";
    s.flush();
    return svg.toUtf8();
}

bool writePicture(const Map &map, const QString &title, const QByteArray &path, QString &error)
{
    QSaveFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(picture(map, title)) < 0 || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Rescue
