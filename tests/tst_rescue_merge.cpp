// Masters of one tape merged into the best one, and the picture of a rescue map.
#include "archive/rescue_merge.h"
#include "archive/rescue_picture.h"
#include "tape_fixtures.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using Rescue::Map;
using Rescue::State;

namespace {

/*
 * A master in one letter a position: g good, x good but read differently, b bad with half
 * of the record, B bad with three quarters, e nothing read, m tape mark, u not tried (left out
 * of the file; the master then has a map). The data ends after the last letter, or is not
 * known when the text ends in "?".
 */
QByteArray tapBytes(const QByteArray &letters)
{
    QByteArray out;
    const auto word = [&out](quint32 w) {
        for (int i = 0; i < 4; ++i)
            out += char(w >> (8 * i));
    };
    for (int i = 0; i < letters.size(); ++i) {
        const char c = letters[i];
        QByteArray data = recordContent(i, 100 + i);
        if (c == 'x')
            data[0] = '#';
        if (c == 'm') {
            word(0);
            continue;
        }
        if (c == 'u' || c == '?')
            continue;
        const bool flagged = c == 'b' || c == 'B' || c == 'e';
        data = c == 'b' ? data.left(data.size() / 2)
            : c == 'B'  ? data.left(data.size() * 3 / 4)
            : c == 'e'  ? QByteArray()
                        : data;
        word(quint32(data.size()) | (flagged ? 0x80000000u : 0));
        out += data;
        if (data.size() & 1)
            out += '\0';
        word(quint32(data.size()) | (flagged ? 0x80000000u : 0));
    }
    return out;
}

/// Writes the master @p letters as @p path, with its map beside it when it has holes.
bool writeMaster(const QString &path, const QByteArray &letters)
{
    if (!writeFile(path, tapBytes(letters)))
        return false;
    if (!letters.contains('u') && !letters.endsWith('?'))
        return true;
    Map map;
    std::int64_t offset = 0;
    const QByteArray body = QByteArray(letters).replace("?", "");
    for (int i = 0; i < body.size(); ++i) {
        const char c = body[i];
        const std::uint64_t bytes = std::uint64_t(tapBytes(QByteArray(i, 'u') + c).size());
        const State state = c == 'm' ? State::Mark
            : c == 'u'               ? State::Untried
            : c == 'e'               ? State::Empty
            : c == 'b' || c == 'B'   ? State::Bad
                                     : State::Good;
        if (state == State::Untried)
            map.setRange(std::uint64_t(i), 1, State::Untried);
        else
            map.set(std::uint64_t(i), state, offset, bytes);
        offset += std::int64_t(bytes);
    }
    if (!letters.endsWith('?'))
        map.setEnd(std::uint64_t(body.size()));
    map.partialBytes = std::uint64_t(offset);
    return map.save(QFile::encodeName(path) + ".map");
}

/// The states of a map as letters, as in tapBytes(); "?" when the end is not known.
QByteArray lettersOf(const Map &map)
{
    QByteArray out;
    for (const Rescue::Run &r : map.runs()) {
        const char c = r.state == State::Good ? 'g'
            : r.state == State::Bad           ? 'b'
            : r.state == State::Empty         ? 'e'
            : r.state == State::Mark          ? 'm'
                                              : 'u';
        if (r.state != State::End)
            out += QByteArray(int(r.count), c);
    }
    return map.endKnown() ? out : out + '?';
}

/// Which source gave each position, one digit each (0: none).
QByteArray sourcesOf(const Map &map)
{
    QByteArray out;
    for (const Rescue::Run &r : map.runs())
        out += QByteArray(int(r.count), char('0' + r.source));
    return out;
}

Rescue::MergeResult mergeInto(
    const QTemporaryDir &dir, const QList<QByteArray> &tapes, QByteArray *written = nullptr)
{
    QList<QByteArray> paths;
    for (int i = 0; i < tapes.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("m%1.tap").arg(i + 1));
        writeMaster(path, tapes[i]);
        paths << QFile::encodeName(path);
    }
    const QString out = dir.filePath(QStringLiteral("best.tap"));
    const int fd = ::open(QFile::encodeName(out).constData(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    Rescue::MergeResult result
        = Rescue::merge(paths, { QStringLiteral("one"), QStringLiteral("two") }, fd);
    ::close(fd);
    if (written)
        *written = fileBytes(out);
    return result;
}

} // namespace

class RescueMergeTest : public QObject
{
    Q_OBJECT
private slots:
    void masterReadAsMap_data();
    void masterReadAsMap();
    void unfitMastersRefused_data();
    void unfitMastersRefused();
    void mergeTakesBestRead_data();
    void mergeTakesBestRead();
    void differingGoodReadsReported();
    void disagreeingSourcesRefused_data();
    void disagreeingSourcesRefused();
    void mergeRunExits_data();
    void mergeRunExits();
    void pictureShowsMap_data();
    void pictureShowsMap();
};

void RescueMergeTest::masterReadAsMap_data()
{
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<QByteArray>("extra"); ///< bytes after the master
    QTest::addColumn<QByteArray>("states");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<int>("recordedEnd"); ///< of a run that stopped short; -2: no run record
    QTest::newRow("plain master") << QByteArray("ggbemgg") << QByteArray() << QByteArray("ggbemgg")
                                  << QByteArray("") << -2;
    QTest::newRow("holes by its map")
        << QByteArray("gguumgu") << QByteArray() << QByteArray("gguumgu") << QByteArray("") << -2;
    QTest::newRow("map without end") << QByteArray("ggu?") << QByteArray() << QByteArray("ggu?")
                                     << QByteArray("does not know where the data ends") << -2;
    // Bytes after the last whole record: what follows is not known, not the end of data.
    QTest::newRow("damaged master") << QByteArray("ggm") << QByteArray("\x10\0\0\0abc", 7)
                                    << QByteArray("ggm?") << QByteArray("damaged at byte") << -2;
    // Its file's end is not the tape's: taken for it, a whole master would be refused.
    QTest::newRow("run stopped short")
        << QByteArray("ggm") << QByteArray() << QByteArray("ggmuuu") << QByteArray("") << 6;
    QTest::newRow("run stopped, end unknown")
        << QByteArray("ggm") << QByteArray() << QByteArray("ggm?") << QByteArray("stops short")
        << -1;
}

void RescueMergeTest::masterReadAsMap()
{
    QFETCH(QByteArray, letters);
    QFETCH(QByteArray, extra);
    QFETCH(QByteArray, states);
    QFETCH(QByteArray, note);
    QFETCH(int, recordedEnd);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("m.tap"));
    QVERIFY(writeMaster(path, letters));
    if (!extra.isEmpty())
        QVERIFY(writeFile(path, fileBytes(path) + extra));
    if (recordedEnd > -2) {
        RunRecord::Record record;
        record.verdict = RunRecord::Verdict::StopsShort;
        record.endOfData = recordedEnd;
        record.bytesWritten = fileBytes(path).size();
        QVERIFY(RunRecord::writeBeside(QFile::encodeName(path), record));
    }
    Rescue::Layout layout;
    QString error;
    QVERIFY2(Rescue::readLayout(QFile::encodeName(path), layout, error), qPrintable(error));
    QCOMPARE(lettersOf(layout.map), states);
    QVERIFY(layout.notes.join(QLatin1Char(' ')).toUtf8().contains(note));
    // Every object's bytes are where the map says, so the file can be read by it.
    const QByteArray bytes = fileBytes(path);
    qint64 expected = 0;
    for (const Rescue::Run &r : layout.map.runs()) {
        if (r.offset < 0)
            continue;
        QCOMPARE(r.offset, expected);
        expected += qint64(r.bytes);
    }
    QCOMPARE(expected, qint64(bytes.size() - extra.size()));
}

void RescueMergeTest::unfitMastersRefused_data()
{
    QTest::addColumn<QByteArray>("letters"); ///< what its map says
    QTest::addColumn<QByteArray>("held"); ///< what the file holds
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("error");
    const QString master = QStringLiteral("m.tap");
    QTest::newRow("mark where the map has a record")
        << QByteArray("ggu") << QByteArray("gmg") << master
        << QByteArray("disagree at position 1: the map says good, the file holds mark");
    QTest::newRow("more than the map") << QByteArray("ggu") << QByteArray("ggg") << master
                                       << QByteArray("holds more than its map accounts for");
    QTest::newRow("less than the map")
        << QByteArray("ggg?") << QByteArray("g") << master << QByteArray("ends before position 1");
    QTest::newRow("not a master at all")
        << QByteArray("g") << QByteArray("junk") << master << QByteArray("is not a .tap master");
    // Its records are in the order a rescue read them, not on the tape's.
    QTest::newRow("partial file of a rescue")
        << QByteArray("ggu") << QByteArray("gg") << QStringLiteral("m.tap.partial")
        << QByteArray("is the partial file of a rescue");
}

void RescueMergeTest::unfitMastersRefused()
{
    QFETCH(QByteArray, letters);
    QFETCH(QByteArray, held);
    QFETCH(QString, name);
    QFETCH(QByteArray, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(writeMaster(path, letters));
    QVERIFY(writeFile(path, held == "junk" ? held : tapBytes(held)));
    if (name.endsWith(QLatin1String(".partial")))
        QVERIFY(QFile::rename(
            path + QStringLiteral(".map"), dir.filePath(QStringLiteral("m.tap.map"))));
    Rescue::Layout layout;
    QString why;
    QVERIFY(!Rescue::readLayout(QFile::encodeName(path), layout, why));
    QVERIFY2(why.toUtf8().contains(error), qPrintable(why));
}

void RescueMergeTest::mergeTakesBestRead_data()
{
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<QByteArray>("written"); ///< the merged master, as a letters
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<int>("verdict");
    QTest::newRow("different bad records give the clean tape")
        << QList<QByteArray> { "gbbgmgegm", "ggggmbgem" } << QByteArray("ggggmgggm")
        << QByteArray("122111211") << int(RunRecord::Verdict::Complete);
    QTest::newRow("map's holes filled from the other source")
        << QList<QByteArray> { "gguumuug", "ebggmggb" } << QByteArray("ggggmggg")
        << QByteArray("11221221") << int(RunRecord::Verdict::Complete);
    // Among flagged reads the one that kept most of the record.
    QTest::newRow("longest bad read kept")
        << QList<QByteArray> { "gbeg", "gBbg" } << QByteArray("gBbg") << QByteArray("1221")
        << int(RunRecord::Verdict::Damaged);
    QTest::newRow("a hole no source tried stays out")
        << QList<QByteArray> { "gug", "gug" } << QByteArray("gug") << QByteArray("101")
        << int(RunRecord::Verdict::StopsShort);
    // One master stopped early: the other's end is the end, its positions untried.
    QTest::newRow("end of data from the source that got there")
        << QList<QByteArray> { "ggm?", "gbmgg" } << QByteArray("ggmgg") << QByteArray("11122")
        << int(RunRecord::Verdict::Complete);
    QTest::newRow("no source knows the end")
        << QList<QByteArray> { "ggm?", "gg?" } << QByteArray("ggm") << QByteArray("111")
        << int(RunRecord::Verdict::StopsShort);
}

void RescueMergeTest::mergeTakesBestRead()
{
    QFETCH(QList<QByteArray>, sources);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, from);
    QFETCH(int, verdict);
    QTemporaryDir dir;
    QByteArray bytes;
    const Rescue::MergeResult result = mergeInto(dir, sources, &bytes);
    QVERIFY2(result.refusal.isEmpty(), qPrintable(result.refusal));
    QCOMPARE(bytes, tapBytes(written));
    QCOMPARE(sourcesOf(result.map), from);
    QCOMPARE(int(result.verdict), verdict);
    QCOMPARE(result.map.sources, QStringList({ QStringLiteral("one"), QStringLiteral("two") }));
    QVERIFY(result.differences.isEmpty());
    // The merged map describes the merged file: read back, it gives the same states.
    const QString path = dir.filePath(QStringLiteral("best.tap"));
    QVERIFY(result.map.save(QFile::encodeName(path) + ".map"));
    Rescue::Layout layout;
    QString error;
    QVERIFY2(Rescue::readLayout(QFile::encodeName(path), layout, error), qPrintable(error));
    QCOMPARE(lettersOf(layout.map), lettersOf(result.map));
}

void RescueMergeTest::differingGoodReadsReported()
{
    QTemporaryDir dir;
    QByteArray bytes;
    const Rescue::MergeResult result = mergeInto(dir, { "ggggb", "ggxgg" }, &bytes);
    QVERIFY(result.refusal.isEmpty());
    QCOMPARE(bytes, tapBytes("ggggg")); // the first master's read is kept
    QCOMPARE(result.differences.size(), 1);
    const Rescue::Difference &d = result.differences.first();
    QCOMPARE(d.position, std::uint64_t(2));
    QCOMPARE(d.reads.size(), 2);
    const auto sha = [](const QByteArray &data) {
        return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    };
    QByteArray other = recordContent(2, 102);
    other[0] = '#';
    QCOMPARE(d.reads[0].source, 1);
    QCOMPARE(d.reads[0].sha256, sha(recordContent(2, 102)));
    QCOMPARE(d.reads[1].source, 2);
    QCOMPARE(d.reads[1].sha256, sha(other));
    QVERIFY(result.verdictText.contains(QStringLiteral("reads differ")));
    const QJsonArray json = Rescue::differencesToJson(result.differences, 10);
    QCOMPARE(json.first().toObject().value(QLatin1String("reads")).toArray().size(), 2);
}

void RescueMergeTest::disagreeingSourcesRefused_data()
{
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<QByteArray>("refusal"); ///< empty: merged
    QTest::newRow("mark against record")
        << QList<QByteArray> { "ggmgg", "gggmg" }
        << QByteArray("at position 2:|m1.tap holds a tape mark there|m2.tap holds a record");
    QTest::newRow("end against record")
        << QList<QByteArray> { "ggm", "ggmgg" }
        << QByteArray("at position 3:|m1.tap holds the end of data there|m2.tap holds a record");
    QTest::newRow("record past the other's end") << QList<QByteArray> { "ggm",
        "ggmug" } << QByteArray("at position 4:|m1.tap holds the end of data there");
    QTest::newRow("mark where the other did not try")
        << QList<QByteArray> { "ggmgg", "gguug" } << QByteArray("");
    QTest::newRow("record where the other did not try")
        << QList<QByteArray> { "gguu", "ggmg" } << QByteArray("");
}

void RescueMergeTest::disagreeingSourcesRefused()
{
    QFETCH(QList<QByteArray>, sources);
    QFETCH(QByteArray, refusal);
    QTemporaryDir dir;
    QByteArray bytes;
    const Rescue::MergeResult result = mergeInto(dir, sources, &bytes);
    if (refusal.isEmpty()) {
        QVERIFY2(result.refusal.isEmpty(), qPrintable(result.refusal));
        return;
    }
    for (const QByteArray &part : refusal.split('|'))
        QVERIFY2(result.refusal.toUtf8().contains(part), qPrintable(result.refusal));
    QVERIFY(bytes.isEmpty());
}

void RescueMergeTest::mergeRunExits_data()
{
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("placed");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("complete") << QList<QByteArray> { "gbmg", "ggme" } << 0 << true
                              << QByteArray("image complete");
    QTest::newRow("damaged") << QList<QByteArray> { "gbmg", "gemg" } << 11 << true
                             << QByteArray("read whole by no source");
    QTest::newRow("disagree") << QList<QByteArray> { "gbmg", "ggmm" } << 14 << false
                              << QByteArray("do not agree at position 3");
    QTest::newRow("one master") << QList<QByteArray> { "gg" } << 2 << false
                                << QByteArray("two masters or more");
}

void RescueMergeTest::mergeRunExits()
{
    QFETCH(QList<QByteArray>, sources);
    QFETCH(int, exitCode);
    QFETCH(bool, placed);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QStringList arguments { QStringLiteral("--merge") };
    for (int i = 0; i < sources.size(); ++i) {
        arguments << dir.filePath(QStringLiteral("m%1.tap").arg(i + 1));
        QVERIFY(writeMaster(arguments.last(), sources[i]));
    }
    const QString out = dir.filePath(QStringLiteral("best.tap"));
    arguments << QStringLiteral("--output") << out;
    const ToolRun run = runImageTool(arguments, QString());
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.toUtf8().contains(message), qPrintable(run.err));
    QCOMPARE(QFile::exists(out), placed);
    QCOMPARE(QFile::exists(out + QStringLiteral(".map")), placed);
    QVERIFY(!QFile::exists(out + QStringLiteral(".partial")));
    if (!placed)
        return;
    RunRecord::Record record;
    QVERIFY(RunRecord::readBeside(QFile::encodeName(out), record));
    QCOMPARE(record.verdict == RunRecord::Verdict::Complete, exitCode == 0);
    QCOMPARE(record.merge.value(QLatin1String("sources")).toArray().size(), sources.size());
    QCOMPARE(record.sha256,
        QString::fromLatin1(
            QCryptographicHash::hash(fileBytes(out), QCryptographicHash::Sha256).toHex()));
}

void RescueMergeTest::pictureShowsMap_data()
{
    QTest::addColumn<QByteArray>("mapText");
    QTest::addColumn<QByteArray>("counts"); ///< good bad empty untried mark
    QTest::addColumn<int>("ticks");
    const QByteArray head = "tarnwick-rescue-map 1\npartial-bytes 999999999999999\n";
    QTest::newRow("small") << head
            + "0 4 good 0 400\n4 1 mark 400 4\n5 1 bad 404 50\n"
              "6 2 empty - 0\n8 3 untried - 0\n11 1 mark 454 4\n12 0 end - 0\n"
                           << QByteArray("4 1 2 3 2") << 2;
    // A rescue that has read nothing yet: no stretch to share the width by.
    QTest::newRow("nothing read") << head << QByteArray("0 0 0 0 0") << 0;
    // A hundred million records with one bad one: still a handful of shapes.
    QTest::newRow("long tape") << head
            + "0 50000000 good 0 3276800000000\n50000000 1 bad 3276800000000 10\n"
              "50000001 49999999 good 3276800000010 3276799934464\n100000000 0 end - 0\n"
                               << QByteArray("99999999 1 0 0 0") << 0;
    QByteArray many = head;
    std::uint64_t p = 0, offset = 0;
    for (int i = 0; i < 5000; ++i, p += 102, offset += 1014) {
        many += QByteArray::number(qulonglong(p)) + " 100 good "
            + QByteArray::number(qulonglong(offset)) + " 1000\n";
        many += QByteArray::number(qulonglong(p + 100)) + " 1 bad "
            + QByteArray::number(qulonglong(offset + 1000)) + " 10\n";
        many += QByteArray::number(qulonglong(p + 101)) + " 1 mark "
            + QByteArray::number(qulonglong(offset + 1010)) + " 4\n";
    }
    // Many more stretches than can be drawn: ticks share places, the counts stay exact.
    QTest::newRow("many stretches") << many << QByteArray("500000 5000 0 0 5000") << -1;
}

void RescueMergeTest::pictureShowsMap()
{
    QFETCH(QByteArray, mapText);
    QFETCH(QByteArray, counts);
    QFETCH(int, ticks);
    Map map;
    QString error;
    QVERIFY2(map.parse(mapText, error), qPrintable(error));
    const QByteArray svg = Rescue::picture(map, QStringLiteral("tape <1> & \"two\"\n"));
    QVERIFY(svg.size() < 200000);
    QVERIFY(!svg.contains("nan") && !svg.contains("inf")); // no width divided by nothing
    QXmlStreamReader xml(svg);
    QStringList found;
    int lines = 0, shapes = 0;
    bool inMarks = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("g"))
            inMarks = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == QLatin1String("g"))
            inMarks = a.value(QLatin1String("id")) == QLatin1String("marks");
        if (xml.name() == QLatin1String("line") && inMarks)
            ++lines;
        if (xml.name() == QLatin1String("rect"))
            ++shapes;
        if (a.hasAttribute(QLatin1String("data-count")))
            found << a.value(QLatin1String("data-count")).toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(found.join(QLatin1Char(' ')).toUtf8(), counts);
    QVERIFY(shapes < 1000);
    if (ticks >= 0)
        QCOMPARE(lines, ticks);
    else
        QVERIFY2(lines > 10 && lines <= int(1000 + 1), qPrintable(QString::number(lines)));
}

QTEST_GUILESS_MAIN(RescueMergeTest)
#include "tst_rescue_merge.moc"
