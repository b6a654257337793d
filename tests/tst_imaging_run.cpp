// What an imaging run does with its image file and run record once it ends, the unattended
// answers to the engine, and --inspect's report: reached here without a drive or the program.
#include "archive/image_report.h"
#include "archive/imaging_run.h"
#include "archive/notices.h"
#include "archive/unattended_front_end.h"
#include "imaging/imaging_state.h"

#include <QtTest>

#include <unistd.h>

namespace {

QStringList g_said;

void collect(const QString &message)
{
    g_said << message;
}

bool exists(const QString &path)
{
    return QFileInfo::exists(path);
}

} // namespace

class TestImagingRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Archive::setNoticeSink(&collect);
    }
    void init() { g_said.clear(); }

    void abandon_data();
    void abandon();
    void finish_data();
    void finish();
    void ownership_data();
    void ownership();
    void frontEnd_data();
    void frontEnd();
    void report_data();
    void report();

private:
    ImagingRun::Settings settings(const QString &name, bool force = false) const
    {
        ImagingRun::Settings settings;
        settings.target.output = QFile::encodeName(m_dir.filePath(name));
        settings.target.force = force;
        settings.target.sync = false;
        settings.blockSizeText = QStringLiteral("Auto");
        settings.program = QStringLiteral("test");
        return settings;
    }

    QTemporaryDir m_dir;
};

// A failed run must keep what it read (and say so in a record that does not call it
// complete), and must not leave an empty file behind that looks like an image.
void TestImagingRun::abandon_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("partialKept");
    QTest::newRow("nothing read") << 0 << "; no image file was left" << false;
    QTest::newRow("some read")
        << 100 << ".partial keeps what was read so far, but it is not a complete image" << true;
}

void TestImagingRun::abandon()
{
    QFETCH(int, bytes);
    const QString name = QStringLiteral("abandon%1.tape").arg(bytes);
    const QString partial = m_dir.filePath(name + QStringLiteral(".partial"));
    ImagingRun run(settings(name));
    QCOMPARE(run.claim(), Archive::Failure::None);
    QVERIFY(exists(partial));
    const QByteArray data(bytes, 'x');
    QCOMPARE(::write(run.target().fd(), data.constData(), size_t(bytes)), ssize_t(bytes));

    const QString message = run.abandon(QStringLiteral("the drive went away"));
    QVERIFY2(message.startsWith(QStringLiteral("the drive went away;")), qPrintable(message));
    QFETCH(QString, ending);
    QVERIFY2(message.endsWith(ending), qPrintable(message));
    QFETCH(bool, partialKept);
    QCOMPARE(exists(partial), partialKept);
    QVERIFY(!exists(m_dir.filePath(name)));
    RunRecord::Record record;
    QCOMPARE(RunRecord::readBeside(QFile::encodeName(partial), record), partialKept);
    if (partialKept) {
        QCOMPARE(record.verdict, RunRecord::Verdict::Unfinished);
        QCOMPARE(record.bytesWritten, qint64(bytes));
        QCOMPARE(record.verdictText, QStringLiteral("the drive went away"));
    }
}

// Only a complete image may replace an earlier file; an image that is not complete still
// gets its name when the name is free, and its record says what it is.
void TestImagingRun::finish_data()
{
    QTest::addColumn<int>("verdict");
    QTest::addColumn<bool>("earlier");
    QTest::addColumn<bool>("placed");
    QTest::addColumn<QString>("said");
    const int complete = int(RunRecord::Verdict::Complete);
    const int short_ = int(RunRecord::Verdict::StopsShort);
    QTest::newRow("complete") << complete << false << true << "image complete: ";
    QTest::newRow("complete over an earlier file")
        << complete << true << true << "image complete: ";
    QTest::newRow("stops short") << short_ << false << true << "it stops short (";
    QTest::newRow("stops short, earlier file kept")
        << short_ << true << false << "was not replaced, because the new image is not complete";
}

void TestImagingRun::finish()
{
    QFETCH(int, verdict);
    QFETCH(bool, earlier);
    QFETCH(bool, placed);
    const QString name = QStringLiteral("finish%1%2.tape").arg(verdict).arg(earlier);
    const QString path = m_dir.filePath(name);
    if (earlier) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("an earlier image");
    }
    ImagingRun run(settings(name, true));
    QCOMPARE(run.claim(), Archive::Failure::None);
    QCOMPARE(::write(run.target().fd(), "0123456789", 10), ssize_t(10));
    QCOMPARE(run.finish(RunRecord::Verdict(verdict), QStringLiteral("it stops short")),
        Archive::Failure::None);

    QCOMPARE(run.target().placed(), placed);
    QFETCH(QString, said);
    QVERIFY2(!g_said.filter(said).isEmpty(), qPrintable(g_said.join(QLatin1Char('\n'))));
    QFile image(path);
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), placed ? QByteArray("0123456789") : QByteArray("an earlier image"));
    RunRecord::Record record;
    QVERIFY(RunRecord::readBeside(run.target().currentPath(), record));
    QCOMPARE(int(record.verdict), verdict);
    QCOMPARE(record.bytesWritten, qint64(10));
    QCOMPARE(exists(path + QStringLiteral(".partial")), !placed);
}

// A run owns its partial file up to its rename. Faults: a second --force run replaced the
// partial file of a run about to rename it, and a file renamed onto the partial name then was
// put in place as this run's image. (A second run while reading, and a killed run's file taken
// over: tst_cli.)
void TestImagingRun::ownership_data()
{
    QTest::addColumn<bool>("swap"); // else a second --force run
    QTest::addColumn<QString>("said");
    QTest::addColumn<QByteArray>("leftAsPartial"); // empty: no partial file remains
    QTest::newRow("second --force run at the rename")
        << false << QStringLiteral("is being written by another run (process %1)").arg(::getpid())
        << QByteArray();
    QTest::newRow("file renamed onto the partial at the rename")
        << true << "is no longer the file this run wrote" << QByteArray("another run's file");
}

void TestImagingRun::ownership()
{
    QFETCH(bool, swap);
    const QString name = QStringLiteral("owned.tape");
    const QString partial = m_dir.filePath(name + QStringLiteral(".partial"));
    QFile::remove(m_dir.filePath(name));
    ImagingRun first(settings(name));
    QCOMPARE(first.claim(), Archive::Failure::None);
    QCOMPARE(::write(first.target().fd(), "0123456789", 10), ssize_t(10));
    ImageTarget::setBeforeRename([&] {
        if (!swap) {
            ImagingRun second(settings(name, true));
            QVERIFY(second.claim() != Archive::Failure::None);
            return;
        }
        QFile other(m_dir.filePath(QStringLiteral("other")));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("another run's file") > 0);
        other.close();
        QVERIFY(::rename(QFile::encodeName(other.fileName()), QFile::encodeName(partial)) == 0);
    });
    first.finish(RunRecord::Verdict::Complete, QString());
    ImageTarget::setBeforeRename({});

    QCOMPARE(first.target().placed(), !swap);
    QFETCH(QString, said);
    QVERIFY2(!g_said.filter(said).isEmpty(), qPrintable(g_said.join(QLatin1Char('\n'))));
    QFETCH(QByteArray, leftAsPartial);
    QFile left(partial);
    QCOMPARE(left.open(QIODevice::ReadOnly) ? left.readAll() : QByteArray(), leftAsPartial);
    QFile image(m_dir.filePath(name));
    QCOMPARE(image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray(),
        swap ? QByteArray() : QByteArray("0123456789"));
}

void TestImagingRun::frontEnd_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("reply");
    QTest::newRow("asked, --yes") << true << true << "yes" << int(Imaging::Answer::Yes);
    QTest::newRow("asked, no --yes") << false << true << "no" << int(Imaging::Answer::No);
    QTest::newRow("refused: no question") << true << false << "" << -1;
}

// The question's answer goes on record as given, and the length that raised it is kept
// for the message; a progress step with no stop signal must not stop the run.
void TestImagingRun::frontEnd()
{
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    int steps = 0;
    UnattendedFrontEnd frontEnd(yes, [&steps](const Imaging::BlockStep &) { ++steps; });
    ImagingState::lastReadLength = 12345;
    ImagingState::runFlag = true;
    QFETCH(int, reply);
    if (asked)
        QCOMPARE(int(frontEnd.askLargerBlockSize()), reply);
    else
        frontEnd.refuseBlockSize();
    QCOMPARE(frontEnd.offendingLength(), quint32(12345));
    QTEST(frontEnd.answer(), "answer");
    frontEnd.showProgress(Imaging::BlockStep());
    QCOMPARE(steps, 1);
    QVERIFY(!frontEnd.stopped());
    QVERIFY(ImagingState::runFlag);
    ImagingState::runFlag = false;
}

void TestImagingRun::report_data()
{
    QTest::addColumn<bool>("tap");
    QTest::addColumn<bool>("trailer");
    QTest::addColumn<bool>("even");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("tap master") << true << false << false
                                << QStringList { QStringLiteral(
                                       "format:               .tap master") };
    QTest::newRow("no trailer") << false << false << false
                                << QStringList { QStringLiteral(
                                       "trailer:              none (cut off)") };
    QTest::newRow("whole records")
        << false << true << true
        << QStringList { QStringLiteral("trailer:              \" 65536 5 65536 5\""),
               QStringLiteral("records:              3") };
    QTest::newRow("records of differing lengths")
        << false << true << false
        << QStringList { QStringLiteral(
               "records:              not a whole number of S-byte records") };
}

// --inspect describes what the judgement found: a .tap master has no trailer to show, and a
// body that is not whole records must not be shown with a record count.
void TestImagingRun::report()
{
    QFETCH(bool, tap);
    QFETCH(bool, trailer);
    ImageVerdict::Judgement judgement;
    judgement.exists = true;
    judgement.isTap = tap;
    judgement.trailer.valid = trailer;
    judgement.trailer.problem = QStringLiteral("cut off");
    judgement.trailer.tapeBlockLength = 65536;
    judgement.trailer.blockSize = 65536;
    judgement.trailer.recordCount = 3;
    QFETCH(bool, even);
    judgement.trailer.bodyDividesEvenly = even;
    const QString text = ImageReport::describe("image", judgement);
    QFETCH(QStringList, lines);
    for (const QString &line : lines)
        QVERIFY2(text.contains(line), qPrintable(text));
    QCOMPARE(text.contains(QStringLiteral("trailer:")), !tap);
    QVERIFY(text.endsWith(QLatin1Char('\n')));
}

QTEST_GUILESS_MAIN(TestImagingRun)
#include "tst_imaging_run.moc"
