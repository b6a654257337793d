// Rescue of a damaged tape: the map kept beside the master.
#include "archive/rescue_map.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using Rescue::Map;
using Rescue::State;

namespace {

/// The map's runs as "first count state", one per line, for compact expectations.
QString shape(const Map &map)
{
    QStringList out;
    for (const Rescue::Run &r : map.runs())
        out << QStringLiteral("%1 %2 %3").arg(r.first).arg(r.count).arg(Rescue::stateWord(r.state));
    return out.join(QLatin1Char('|'));
}

} // namespace

class RescueTest : public QObject
{
    Q_OBJECT
private slots:
    void mapKeepsOneRunPerStretch();
    void laterPassReplacesBadRecord();
    void runWithBytesIsNotSplit();
    void mapSurvivesTextAndFile();
    void malformedMapsAreRefused_data();
    void malformedMapsAreRefused();
};

void RescueTest::mapKeepsOneRunPerStretch()
{
    Map map;
    std::int64_t offset = 0;
    for (std::uint64_t p = 0; p < 4; ++p, offset += 108)
        QVERIFY(map.set(p, State::Good, offset, 108));
    QVERIFY(map.set(4, State::Mark, offset, 4));
    offset += 4;
    QVERIFY(map.set(5, State::Bad, offset, 50));
    offset += 50;
    QVERIFY(map.set(6, State::Bad, offset, 50)); // bad records stay one each
    offset += 50;
    // The first pass skipped ahead: 7..9 left untried.
    QVERIFY(map.set(10, State::Good, offset, 108));
    map.setEnd(11);
    map.partialBytes = std::uint64_t(offset) + 108;
    QCOMPARE(shape(map),
        QStringLiteral("0 4 good|4 1 mark|5 1 bad|6 1 bad|7 3 untried|10 1 good|11 0 end"));
    QCOMPARE(map.firstUntried(), std::uint64_t(7));
    QCOMPARE(map.unfinished().size(), 3);
    QVERIFY(map.inTapeOrder());
    QCOMPARE(map.summary(),
        QStringLiteral("5 good, 2 bad with data, 3 not tried, 1 tape mark; end of data at 11"));
}

void RescueTest::laterPassReplacesBadRecord()
{
    Map map;
    QVERIFY(map.set(0, State::Good, 0, 100));
    QVERIFY(map.set(1, State::Bad, 100, 60));
    QVERIFY(map.setRange(2, 5, State::Untried));
    QVERIFY(map.set(7, State::Good, 160, 100));
    map.setEnd(8);
    map.partialBytes = 260;
    // Second pass: record 1 read whole, appended at the end; 4 read with nothing back.
    QVERIFY(map.set(1, State::Good, 260, 100));
    QVERIFY(map.set(4, State::Empty));
    map.partialBytes = 360;
    // Record 1's new bytes do not follow record 0's: a line of its own, and the
    // partial file is out of tape order, so the master must be assembled.
    QCOMPARE(shape(map),
        QStringLiteral("0 1 good|1 1 good|2 2 untried|4 1 empty|5 2 untried|7 1 good|8 0 end"));
    QVERIFY(!map.inTapeOrder());
    QVERIFY(map.endKnown());
    QCOMPARE(map.stateAt(8), State::End);
    QCOMPARE(map.stateAt(3), State::Untried);
}

void RescueTest::runWithBytesIsNotSplit()
{
    Map map;
    QVERIFY(map.set(0, State::Good, 0, 100));
    QVERIFY(map.set(1, State::Good, 100, 100));
    const Map before = map;
    QVERIFY(!map.set(1, State::Bad, 200, 10));
    QCOMPARE(map.runs(), before.runs());
    // A record read after what was taken for the end of data: that end was wrong.
    map.setEnd(2);
    QVERIFY(map.set(2, State::Good, 200, 100));
    QVERIFY(!map.endKnown());
    QCOMPARE(shape(map), QStringLiteral("0 3 good"));
}

void RescueTest::mapSurvivesTextAndFile()
{
    Map map;
    map.sources << QStringLiteral("drive a.tap") << QStringLiteral("odd\nname\\b.tap");
    QVERIFY(map.set(0, State::Good, 0, 100, 1));
    QVERIFY(map.set(1, State::Good, 100, 100, 2));
    QVERIFY(map.set(2, State::Mark, 200, 4, 2));
    map.setEnd(3);
    map.partialBytes = 204;
    map.partialTail = "ab12";
    map.pass = 2;
    map.next = 3;

    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("m.tap.map")));
    QVERIFY(map.save(path));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("m.tap.map.new"))));
    Map read;
    QString error;
    QVERIFY2(read.load(path, error), qPrintable(error));
    QCOMPARE(read.runs(), map.runs());
    QCOMPARE(read.sources, map.sources);
    QCOMPARE(read.partialBytes, map.partialBytes);
    QCOMPARE(read.partialTail, map.partialTail);
    QCOMPARE(read.pass, 2);
    QCOMPARE(read.next, std::uint64_t(3));
    QCOMPARE(read.text(), map.text());

    // The tail checksum covers the bytes just before the length given.
    const int fd = ::open(path.constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(Rescue::tailChecksum(fd, 10).size(), 64);
    QVERIFY(Rescue::tailChecksum(fd, 10) != Rescue::tailChecksum(fd, 11));
    QVERIFY(Rescue::tailChecksum(fd, 1u << 30).isEmpty());
    ::close(fd);
}

void RescueTest::malformedMapsAreRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    const QByteArray head = "tarnwick-rescue-map 1\npartial-bytes 200\n";
    QTest::newRow("not a map") << QByteArray("hello\n")
                               << "line 1: not a rescue map of a version this program reads";
    QTest::newRow("empty") << QByteArray() << "empty, or not a rescue map";
    QTest::newRow("gap") << head + "0 1 good 0 100\n2 1 good 100 100\n"
                         << "line 4: position 1 expected, 2 found";
    QTest::newRow("past partial") << head + "0 1 good 150 100\n"
                                  << "line 3: bytes past the 200 the partial file holds";
    QTest::newRow("good without bytes") << head + "0 1 good - 0\n"
                                        << "line 3: good objects without their bytes";
    QTest::newRow("after end") << head + "0 0 end - 0\n0 1 untried - 0\n"
                               << "line 4: runs after the end of data";
    QTest::newRow("unknown source") << head + "0 1 good 0 100 1\n"
                                    << "line 3: a source the map does not name";
    QTest::newRow("negative") << head + "-1 1 untried - 0\n"
                              << "line 3: not a run of the map";
    QTest::newRow("unknown state") << head + "0 1 fine 0 100\n"
                                   << "line 3: not a run of the map";
}

void RescueTest::malformedMapsAreRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    Map map;
    QVERIFY(map.set(0, State::Untried));
    QString why;
    QVERIFY(!map.parse(text, why));
    QCOMPARE(why, error);
    QCOMPARE(map.runs().size(), 1); // left as it was
}

QTEST_GUILESS_MAIN(RescueTest)
#include "tst_rescue.moc"
