// Rescue of a damaged tape: the map kept beside the master.
#include "archive/rescue_map.h"
#include "archive/run_record.h"
#include "tape_fixtures.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
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

Map mapAt(const QString &path)
{
    Map map;
    QString error;
    map.load(QFile::encodeName(path), error);
    return map;
}

/// Runs tarnwick-image on @p tape with @p faults, the virtual tape logging its reads to
/// @p readLog; stopped by @p signal after @p killAfterMs when that is not negative.
ToolRun rescue(const QStringList &arguments, const QString &tape, const QString &faults,
    const QString &readLog, int killAfterMs = -1, int signal = SIGKILL)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAPE"), tape);
    env.insert(QStringLiteral("TARNWICK_VTAPE_FAULTS"), faults);
    env.insert(QStringLiteral("TARNWICK_VTAPE_READ_LOG"), readLog);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image"),
        QStringList { QStringLiteral("--format"), QStringLiteral("tap") } + arguments);
    // SIGKILL: nothing of the program runs after it.
    if (killAfterMs >= 0 && !process.waitForFinished(killAfterMs))
        ::kill(pid_t(process.processId()), signal);
    if (!process.waitForFinished(60000))
        return {};
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError()) };
}

/// The positions read since line @p from of the read log, and that log's length.
QStringList readsSince(const QString &readLog, int &from)
{
    const QStringList all
        = QString::fromLatin1(fileBytes(readLog)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList since = all.mid(from);
    from = all.size();
    return since;
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
    void laterPasses_data();
    void laterPasses();
    void foreignMapsAreRefused_data();
    void foreignMapsAreRefused();
    void killedAndResumed_data();
    void killedAndResumed();
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

// A damaged tape of 30 records and a mark, rescued in two runs: the second run's faults and
// options, what it reads, and the map after each.
void RescueTest::laterPasses_data()
{
    QTest::addColumn<QString>("firstFaults");
    QTest::addColumn<QStringList>("firstOptions");
    QTest::addColumn<int>("firstExit");
    QTest::addColumn<QString>("firstShape");
    QTest::addColumn<QString>("secondFaults");
    QTest::addColumn<QString>("secondReads");
    QTest::addColumn<int>("secondExit");
    QTest::addColumn<QString>("secondShape");

    const QString dead10to15 = QStringLiteral("dead=10,dead=11,dead=12,dead=13,dead=14,dead=15");
    const QStringList onePass = { QStringLiteral("--passes"), QStringLiteral("1") };
    // clang-format off
    // The first pass secures what reads, spacing over the damaged stretch in growing steps;
    // the next run reads only what that pass left, each record once.
    QTest::newRow("a run of bad records is skipped, then tried") << dead10to15 << onePass << 12
        << "0 10 good|10 1 empty|11 1 empty|12 1 untried|13 1 empty|14 2 untried|16 14 good|30 1 mark|31 0 end"
        << "" << "10 11 12 13 14 15" << 0 << "0 30 good|30 1 mark|31 0 end";
    // From both ends: forward until 12 fails, back from 15 until 13 fails.
    QTest::newRow("a stretch is read from both ends") << dead10to15 << onePass << 12
        << "0 10 good|10 1 empty|11 1 empty|12 1 untried|13 1 empty|14 2 untried|16 14 good|30 1 mark|31 0 end"
        << "dead=12,dead=13" << "10 11 12 15 14 13" << 11
        << "0 12 good|12 1 empty|13 1 empty|14 16 good|30 1 mark|31 0 end";
    // Flaky records read on the second pass of the first run; the second run has nothing to do.
    QTest::newRow("flaky records are whole after a second pass") << "flaky=3:1,flaky=20:1"
        << QStringList() << 0 << "0 30 good|30 1 mark|31 0 end"
        << "" << "" << 8 << "0 30 good|30 1 mark|31 0 end";
    // Still failing, a record stays flagged, and an empty record replaces no data it had.
    QTest::newRow("a record that never reads stays flagged") << "dead=5" << QStringList() << 11
        << "0 5 good|5 1 empty|6 24 good|30 1 mark|31 0 end"
        << "dead=5" << "5 5" << 11 << "0 5 good|5 1 empty|6 24 good|30 1 mark|31 0 end";
    // clang-format on
}

void RescueTest::laterPasses()
{
    QFETCH(QString, firstFaults);
    QFETCH(QStringList, firstOptions);
    QFETCH(QString, secondFaults);
    QTemporaryDir dir;
    const QString tape = dir.filePath(QStringLiteral("tape.tap"));
    QVERIFY(writeTape(tape, Objects(30, 1000) << kMark));
    const QString master = dir.filePath(QStringLiteral("m.tap"));
    const QString log = dir.filePath(QStringLiteral("reads"));
    const QStringList options = QStringList {
        QStringLiteral("--retries"), QStringLiteral("0"), QStringLiteral("--output"), master
    } + firstOptions;

    const ToolRun first = rescue(options, tape, firstFaults, log);
    QTEST(first.exitCode, "firstExit");
    // Once the run record and the summary kept the first pass's failure of a record
    // the second pass read whole.
    if (first.exitCode == 0) {
        RunRecord::Record firstRecord;
        QVERIFY(RunRecord::readBeside(QFile::encodeName(master), firstRecord));
        for (const RunRecord::Problem &problem : qAsConst(firstRecord.problems))
            QVERIFY2(problem.kind != RunRecord::ProblemKind::Unreadable, qPrintable(problem.text));
        QVERIFY2(first.err.contains(QLatin1String("30 records (30 of 1000 bytes)")),
            qPrintable(first.err));
    }
    QTEST(shape(mapAt(master + QStringLiteral(".map"))), "firstShape");
    int lines = 0;
    readsSince(log, lines);

    const ToolRun second = rescue(options, tape, secondFaults, log);
    QTEST(second.exitCode, "secondExit");
    const QStringList reads = readsSince(log, lines);
    QTEST(reads.join(QLatin1Char(' ')), "secondReads");
    const Map after = mapAt(master + QStringLiteral(".map"));
    QTEST(shape(after), "secondShape");
    // The run record counts every visit of its passes (one read each, without retries).
    RunRecord::Record record;
    QVERIFY(RunRecord::readBeside(QFile::encodeName(master), record));
    if (!reads.isEmpty()) {
        qint64 tried = 0, good = 0, failed = 0;
        for (const RunRecord::Pass &pass : qAsConst(record.passes)) {
            tried += pass.tried;
            good += pass.good;
            failed += pass.failed;
        }
        QCOMPARE(tried, qint64(reads.size()));
        QCOMPARE(good + failed, tried);
        QCOMPARE(record.map, after.summary());
    }
    // The master is the tape wherever the map says a record is good, and whole when all are.
    if (after.unfinished().isEmpty())
        QCOMPARE(fileBytes(master), fileBytes(tape));
    QVERIFY(after.inTapeOrder());
    QCOMPARE(std::uint64_t(QFileInfo(master).size()), after.partialBytes);
}

// A partial file and a map that do not go together are refused, and both are left as they were.
void RescueTest::foreignMapsAreRefused_data()
{
    QTest::addColumn<QString>("change"); // what is done to the partial file or its map
    QTest::addColumn<bool>("force");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("partial file shorter than the map says") << "truncate" << false << 8
        << "does not belong to";
    QTest::newRow("partial file's last bytes changed") << "flip" << false << 8
        << "the last bytes the map accounts for are not the file's";
    QTest::newRow("not a map") << "garbage" << true << 8 << "cannot be read: line 1";
    // --force goes on with a rescue that can, saying so, rather than throw it away.
    QTest::newRow("--force keeps a resumable rescue") << "" << true << 0
        << "--force does not throw away the rescue";
    // clang-format on
}

void RescueTest::foreignMapsAreRefused()
{
    QFETCH(QString, change);
    QFETCH(bool, force);
    QTemporaryDir dir;
    const QString tape = dir.filePath(QStringLiteral("tape.tap"));
    QVERIFY(writeTape(tape, Objects(20, 1000) << kMark));
    const QString master = dir.filePath(QStringLiteral("m.tap"));
    const QString partial = master + QStringLiteral(".partial");
    const QString log = dir.filePath(QStringLiteral("reads"));
    QStringList options = { QStringLiteral("--passes"), QStringLiteral("1"),
        QStringLiteral("--retries"), QStringLiteral("0"), QStringLiteral("--output"), master };
    QCOMPARE(rescue(options, tape, QStringLiteral("dead=4"), log).exitCode, 11);
    QVERIFY(QFile::rename(master, partial));
    QVERIFY(QFile::rename(master + QStringLiteral(".map"), partial + QStringLiteral(".map")));
    QByteArray bytes = fileBytes(partial);
    QByteArray mapText = fileBytes(partial + QStringLiteral(".map"));
    if (change == QLatin1String("truncate"))
        bytes.chop(100);
    else if (change == QLatin1String("flip"))
        bytes[bytes.size() - 20] = char(bytes[bytes.size() - 20] ^ 1);
    else if (change == QLatin1String("garbage"))
        mapText = "hello\n";
    QVERIFY(writeFile(partial, bytes));
    QVERIFY(writeFile(partial + QStringLiteral(".map"), mapText));

    if (force)
        options << QStringLiteral("--force");
    const ToolRun run = rescue(options, tape, QString(), log);
    QTEST(run.exitCode, "exitCode");
    QFETCH(QString, message);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    if (run.exitCode != 0) {
        QCOMPARE(fileBytes(partial), bytes);
        QCOMPARE(fileBytes(partial + QStringLiteral(".map")), mapText);
        QVERIFY(!QFile::exists(master));
    } else {
        QCOMPARE(fileBytes(master), fileBytes(tape));
    }
}

/// The sum of a run record's records and marks: its blocks read, on a tape with none untried.
qint64 objectsIn(const RunRecord::Record &record)
{
    qint64 objects = record.marksRead;
    for (const RunRecord::TapeFile &file : record.files)
        objects += file.records;
    return objects;
}

QStringList problemsOf(const RunRecord::Record &record)
{
    QStringList out;
    for (const RunRecord::Problem &p : record.problems)
        out << QStringLiteral("%1 %2").arg(p.block).arg(RunRecord::problemKindName(p.kind));
    return out;
}

void RescueTest::killedAndResumed_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("killed outright") << int(SIGKILL);
    QTest::newRow("interrupted") << int(SIGINT);
}

// Stopped at 20 points of a slow read, resumed each time: the same master and run record as
// one run made, and every record read about once: again only what the writer's buffer held.
// Once the record of a resumed master counted only the last run's records.
void RescueTest::killedAndResumed()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const int records = 2000;
    const int length = 32768;
    Objects objects;
    for (int i = 0; i < records; ++i) {
        objects << length;
        if (i % 700 == 699)
            objects << kMark;
    }
    objects << kMark;
    const QString tape = dir.filePath(QStringLiteral("tape.tap"));
    QVERIFY(writeTape(tape, objects));
    const QString master = dir.filePath(QStringLiteral("m.tap"));
    const QString log = dir.filePath(QStringLiteral("reads"));
    const QStringList options = { QStringLiteral("--output"), master };
    // One record that never reads, one that reads at the second try.
    const QString faults = QStringLiteral("dead=900,flaky=1300:1");
    const QString once = dir.filePath(QStringLiteral("once.tap"));
    QCOMPARE(rescue({ QStringLiteral("--output"), once }, tape, faults,
                 dir.filePath(QStringLiteral("once-reads")))
                 .exitCode,
        11);
    RunRecord::Record whole;
    QVERIFY(RunRecord::readBeside(QFile::encodeName(once), whole));
    // The writer holds up to four chunks of 1 MiB and a record; the map follows it within
    // 0.1 s, 50 reads of the slow tape. The dead record is read 4 times on each pass.
    const int buffered = 4 * (1048576 / length + 1) + 50 + 1;

    int lines = 0;
    int kills = 0;
    int allowed = objects.size() + 4 + 1 + 4;
    for (int i = 0; i < 20 && !QFile::exists(master); ++i) {
        const Map before = mapAt(master + QStringLiteral(".partial.map"));
        const ToolRun run
            = rescue(options, tape, QStringLiteral("slow,") + faults, log, 40 + 12 * i, signal);
        const QStringList reads = readsSince(log, lines);
        // Each run goes on exactly where the map on disk said.
        if (!reads.isEmpty() && before.pass == 1)
            QCOMPARE(reads.first().toULongLong(), before.next);
        if (run.exitCode == -1) {
            ++kills;
            allowed += std::min(int(reads.size()), buffered) + 4;
            // What a stopped run left on record adds up, the earlier runs' reads counted.
            RunRecord::Record interim;
            if (RunRecord::readBeside(
                    QFile::encodeName(master + QStringLiteral(".partial")), interim))
                QCOMPARE(objectsIn(interim), interim.blocksRead);
        }
    }
    QVERIFY(kills >= 15);
    if (!QFile::exists(master))
        QCOMPARE(rescue(options, tape, faults, log).exitCode, 11);
    QCOMPARE(fileBytes(master), fileBytes(once));
    readsSince(log, lines);
    QVERIFY2(lines <= allowed,
        qPrintable(QStringLiteral("%1 reads, at most %2 expected").arg(lines).arg(allowed)));
    QVERIFY(!QFile::exists(master + QStringLiteral(".partial")));
    RunRecord::Record resumed;
    QVERIFY(RunRecord::readBeside(QFile::encodeName(master), resumed));
    QCOMPARE(resumed.blocksRead, whole.blocksRead);
    QCOMPARE(resumed.marksRead, whole.marksRead);
    QCOMPARE(resumed.files.size(), whole.files.size());
    for (int f = 0; f < whole.files.size(); ++f) {
        QCOMPARE(resumed.files[f].records, whole.files[f].records);
        QCOMPARE(resumed.files[f].lengths, whole.files[f].lengths);
    }
    QCOMPARE(problemsOf(resumed), problemsOf(whole));
    QCOMPARE(resumed.verdict, whole.verdict);
    QCOMPARE(resumed.sha256, whole.sha256);
    QCOMPARE(resumed.bytesWritten, whole.bytesWritten);
    if (!resumed.passes.isEmpty() && resumed.passes.first().number == 1) {
        QCOMPARE(resumed.passes.first().tried, whole.passes.first().tried);
        QCOMPARE(resumed.passes.first().failed, whole.passes.first().failed);
    }
}

QTEST_GUILESS_MAIN(RescueTest)
#include "tst_rescue.moc"
