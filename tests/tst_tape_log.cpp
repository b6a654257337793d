#include "archive/run_record.h"
#include "archive/tape_log.h"

#include <QtTest>

namespace {

/// Plays @p script into @p log: "r100" a record of 100 bytes, "m" a tape mark,
/// "u50" an unreadable block kept as 50 bytes, "c64" a block cut at 64 bytes,
/// "v3" the next block read whole only at read 3.
void play(TapeLog &log, const QString &script)
{
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const quint32 number = step.mid(1).toUInt();
        switch (step.at(0).toLatin1()) {
        case 'r':
            log.record(number);
            break;
        case 'm':
            log.mark();
            break;
        case 'u':
            log.unreadable(number, 3, QStringLiteral("kept"));
            break;
        case 'c':
            log.cut(number, QStringLiteral("kept"));
            break;
        case 'v':
            log.recovered(int(number));
            break;
        default:
            QFAIL("bad script step");
        }
    }
}

} // namespace

class TestTapeLog : public QObject
{
    Q_OBJECT

private slots:
    void summary_data();
    void summary();
    void damage_data();
    void damage();
    void filesInRecord();
    void recordRoundTrip_data();
    void recordRoundTrip();
};

void TestTapeLog::summary_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty tape") << ""
                                << "0 records in 0 tape files, 0 tape marks";
    QTest::newRow("one file")
        << "r100 r100 r7 m"
        << "3 records (2 of 100 bytes, 1 of 7 bytes) in 1 tape file, 1 tape mark";
    // The most common lengths come first, whatever their order on the tape.
    QTest::newRow("commonest first") << "r7 r100 r100 m r100 m"
                                     << "4 records (3 of 100 bytes, 1 of 7 bytes) in 2 tape files, "
                                        "2 tape marks";
    // Files are counted by their records: the double mark at the end is no file.
    QTest::newRow("two marks at the end")
        << "r1 m m"
        << "1 records (1 of 1 bytes) in 1 tape file, 2 tape marks";
    QTest::newRow("five lengths: one summed up")
        << "r1 r1 r1 r1 r1 r2 r2 r2 r2 r3 r3 r3 r4 r4 r5"
        << "15 records (5 of 1 bytes, 4 of 2 bytes, 3 of 3 bytes, 2 of 4 bytes, 1 other lengths) "
           "in 1 tape file, 0 tape marks";
    // Unreadable and cut blocks still count as records of the length that was kept.
    QTest::newRow("damaged blocks counted") << "r10 u10 c10 m"
                                            << "3 records (3 of 10 bytes) in 1 tape file, 1 tape "
                                               "mark";
    // Counting starts again after a rewind.
    QTest::newRow("restart") << "r5 m x r6"
                             << "1 records (1 of 6 bytes) in 1 tape file, 0 tape marks";
}

void TestTapeLog::summary()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    TapeLog log;
    const int restart = script.indexOf(QLatin1String(" x "));
    if (restart >= 0) {
        play(log, script.left(restart));
        log.restart();
        script = script.mid(restart + 3);
    }
    play(log, script);
    QCOMPARE(log.summary(), expected);
}

void TestTapeLog::damage_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<quint64>("objects");
    // Block numbers count marks from 1, as a drive numbers its blocks.
    QTest::newRow("one unreadable after a mark")
        << "r1 m u9" << 1 << "but 1 is not whole: block 3 unreadable" << quint64(3);
    // A recovered block is not damage and is not named among the damaged ones.
    QTest::newRow("recovered is not damage")
        << "v4 r1 u1 c2" << 2 << "but 2 are not whole: block 2 unreadable, block 3 cut"
        << quint64(3);
    QTest::newRow("more than four named")
        << "u1 u1 c1 u1 c1 u1" << 6
        << "but 6 are not whole: block 1 unreadable, block 2 unreadable, block 3 cut, block 4 "
           "unreadable, 2 more"
        << quint64(6);
}

void TestTapeLog::damage()
{
    QFETCH(QString, script);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QFETCH(quint64, objects);
    TapeLog log;
    play(log, script);
    QCOMPARE(log.damageCount(), count);
    QCOMPARE(log.damage(), expected);
    QCOMPARE(log.objects(), objects);
}

void TestTapeLog::filesInRecord()
{
    TapeLog log;
    play(log, QStringLiteral("r10 r10 r3 m v2 r4 u4 m m"));
    RunRecord::Record record;
    log.fill(record);
    QCOMPARE(record.blocksRead, qint64(8));
    QCOMPARE(record.marksRead, qint64(3));
    // Two files with records; the empty one between the last two marks is one, the one
    // after the last mark is not.
    QCOMPARE(record.files.size(), 3);
    QCOMPARE(record.files[0].records, qint64(3));
    QCOMPARE(record.files[0].lengths.value(10), qint64(2));
    QCOMPARE(record.files[0].lengths.value(3), qint64(1));
    QCOMPARE(record.files[1].records, qint64(2));
    QCOMPARE(record.files[1].lengths.value(4), qint64(2));
    QCOMPARE(record.files[2].records, qint64(0));
    QCOMPARE(record.problems.size(), 2);
    QCOMPARE(record.problems[0].kind, RunRecord::ProblemKind::Recovered);
    QCOMPARE(record.problems[0].block, quint64(5));
    QCOMPARE(record.problems[1].kind, RunRecord::ProblemKind::Unreadable);
    QCOMPARE(record.problems[1].block, quint64(6));
}

void TestTapeLog::recordRoundTrip_data()
{
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("kind");
    // The operator's fields: description, notes, label photo (empty: not given).
    QTest::addColumn<QStringList>("fields");
    const QStringList operatorFields[] = { {}, { QStringLiteral("DLT IV \"1997\"") },
        { QStringLiteral("Bänder"), QStringLiteral("box 4\r\n\tshelf 2\n"),
            QStringLiteral("label 1.JPG") } };
    for (RunRecord::Verdict verdict :
        { RunRecord::Verdict::Complete, RunRecord::Verdict::Damaged, RunRecord::Verdict::StopsShort,
            RunRecord::Verdict::Unfinished, RunRecord::Verdict::NotKnown }) {
        for (RunRecord::ProblemKind kind : { RunRecord::ProblemKind::Unreadable,
                 RunRecord::ProblemKind::Cut, RunRecord::ProblemKind::Recovered }) {
            const QString name = RunRecord::verdictName(verdict) + QLatin1Char('/')
                + RunRecord::problemKindName(kind);
            QTest::newRow(qPrintable(name))
                << int(verdict) << int(kind) << operatorFields[int(kind) % 3];
        }
    }
}

void TestTapeLog::recordRoundTrip()
{
    QFETCH(int, verdict);
    QFETCH(int, kind);
    RunRecord::Record record;
    record.program = QStringLiteral("tarnwick-image");
    record.format = RunRecord::ImageFormat::Tap;
    record.devicePath = QStringLiteral("/dev/nst0");
    record.started = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    record.ended = record.started.addSecs(61);
    record.endOfData = 12;
    record.blocksRead = 11;
    record.marksRead = 2;
    RunRecord::TapeFile file;
    file.records = 9;
    file.lengths.insert(65536, 8);
    file.lengths.insert(0xFFFFFF, 1); // the longest record a drive transfers
    record.files = { file, RunRecord::TapeFile() };
    record.problems = { { 7, RunRecord::ProblemKind(kind), QStringLiteral("block 7 ...") } };
    record.bytesWritten = 5000000000LL; // past 32 bits
    record.verdict = RunRecord::Verdict(verdict);
    record.verdictText = QStringLiteral("the words");
    record.sha256 = QStringLiteral("ab").repeated(32);
    QFETCH(QStringList, fields);
    record.operatorFields.description = fields.value(0);
    record.operatorFields.notes = fields.value(1);
    record.operatorFields.photoName = fields.value(2);
    if (fields.size() > 2) {
        record.operatorFields.photoSize = 5000000000LL;
        record.operatorFields.photoSha256 = QStringLiteral("cd").repeated(32);
    }

    RunRecord::Record back;
    const QByteArray json = RunRecord::toJson(record);
    QVERIFY(RunRecord::fromJson(json, back));
    // A record without them has no "operator" object: older readers see nothing new.
    QCOMPARE(json.contains("\"operator\""), !fields.isEmpty());
    QVERIFY(back.operatorFields == record.operatorFields);
    QCOMPARE(back.program, record.program);
    QCOMPARE(back.format, record.format);
    QCOMPARE(back.devicePath, record.devicePath);
    QCOMPARE(back.started, record.started);
    QCOMPARE(back.ended, record.ended);
    QCOMPARE(back.endOfData, record.endOfData);
    QCOMPARE(back.blocksRead, record.blocksRead);
    QCOMPARE(back.marksRead, record.marksRead);
    QCOMPARE(back.files.size(), 2);
    QCOMPARE(back.files[0].records, file.records);
    QCOMPARE(back.files[0].lengths, file.lengths);
    QCOMPARE(back.problems.size(), 1);
    QCOMPARE(back.problems[0].block, quint64(7));
    QCOMPARE(int(back.problems[0].kind), kind);
    QCOMPARE(back.problems[0].text, record.problems[0].text);
    QCOMPARE(back.bytesWritten, record.bytesWritten);
    QCOMPARE(int(back.verdict), verdict);
    QCOMPARE(back.verdictText, record.verdictText);
    QCOMPARE(back.sha256, record.sha256);
}

QTEST_GUILESS_MAIN(TestTapeLog)
#include "tst_tape_log.moc"
