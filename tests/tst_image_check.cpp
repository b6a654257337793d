#include "archive/image_verdict.h"
#include "archive/run_record.h"
#include "imaging/image_file.h"
#include "platform/tap/tap_writer.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using RunRecord::Verdict;

/// A .tape image of three 512-byte records and its trailer.
QByteArray tapeImage()
{
    return QByteArray(3 * 512, 'a') + ImageFile::trailerText(512, 512);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QByteArray tapMaster(const QString &path)
{
    TapWriter writer;
    const QByteArray block(1000, 'b');
    if (!writer.open(path.toStdString()) || !writer.writeRecord(block.constData(), 1000)
        || !writer.writeRecord(block.constData(), 999) || !writer.writeTapeMark()
        || !writer.close())
        return QByteArray();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestImageCheck : public QObject
{
    Q_OBJECT

private slots:
    void recordMustFitTheFile_data();
    void recordMustFitTheFile();
    void missingFile();

private:
    QTemporaryDir m_dir;
};

// The run record speaks for an image only when it describes this very file: a
// truncated or extended image must never be called complete on its word.
void TestImageCheck::recordMustFitTheFile_data()
{
    QTest::addColumn<bool>("tap");
    QTest::addColumn<int>("recorded"); ///< the verdict the record states; -1: no record
    QTest::addColumn<int>("change"); ///< bytes cut off (negative) or added after the run
    QTest::addColumn<int>("verdict");
    QTest::addColumn<bool>("fromRecord");
    const int complete = int(Verdict::Complete);
    const int notKnown = int(Verdict::NotKnown);
    const int unfinished = int(Verdict::Unfinished);
    const int damaged = int(Verdict::Damaged);
    QTest::newRow("image as written") << false << complete << 0 << complete << true;
    QTest::newRow("damaged image as written") << false << damaged << 0 << damaged << true;
    // Its trailer is gone with the last byte: the file alone says unfinished.
    QTest::newRow("image cut by a byte") << false << complete << -1 << unfinished << false;
    QTest::newRow("image cut to its records") << false << complete << -21 << unfinished << false;
    // The trailer looks whole, but something was added before it or after.
    QTest::newRow("image grown") << false << complete << 512 << notKnown << false;
    QTest::newRow("no record, trailer whole") << false << -1 << 0 << notKnown << false;
    QTest::newRow("master as written") << true << complete << 0 << complete << true;
    // A .tap file cut inside a record still reads as a shorter tape: only its size tells.
    QTest::newRow("master cut inside a record") << true << complete << -300 << notKnown << false;
    QTest::newRow("master cut to a record's end")
        << true << complete << -8 - 999 - 1 - 4 << notKnown << false;
    // A killed run's interim record counts what was read, not what reached the file.
    QTest::newRow("interim record of a killed run")
        << true << unfinished << -4 << notKnown << false;
}

void TestImageCheck::recordMustFitTheFile()
{
    QFETCH(bool, tap);
    QFETCH(int, recorded);
    QFETCH(int, change);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(tap ? QStringLiteral("m.tap") : QStringLiteral("i.tape"));
    QFile::remove(path + QStringLiteral(".json"));
    QByteArray bytes = tap ? tapMaster(path) : tapeImage();
    QVERIFY(!bytes.isEmpty());
    if (recorded >= 0) {
        RunRecord::Record record;
        record.program = QStringLiteral("tarnwick-image");
        record.format = tap ? RunRecord::ImageFormat::Tap : RunRecord::ImageFormat::Tape;
        record.bytesWritten = bytes.size();
        record.verdict = Verdict(recorded);
        record.verdictText = QStringLiteral("as the run said");
        QVERIFY(writeFile(path + QStringLiteral(".json"), RunRecord::toJson(record)));
    }
    if (change < 0)
        bytes.chop(-change);
    else if (change > 0)
        bytes.insert(0, QByteArray(change, 'z'));
    QVERIFY(writeFile(path, bytes));

    const ImageVerdict::Judgement judgement = ImageVerdict::judge(QFile::encodeName(path));
    QVERIFY(judgement.exists);
    QCOMPARE(judgement.fileSize, qint64(bytes.size()));
    QTEST(int(judgement.verdict), "verdict");
    QTEST(judgement.fromRecord, "fromRecord");
    if (change != 0 && recorded >= 0)
        QVERIFY2(judgement.notes.join(QLatin1Char(' ')).contains(QLatin1String("does not speak")),
            qPrintable(judgement.notes.join(QLatin1Char('|'))));
}

void TestImageCheck::missingFile()
{
    const ImageVerdict::Judgement judgement
        = ImageVerdict::judge(QFile::encodeName(m_dir.filePath(QStringLiteral("none.tape"))));
    QVERIFY(!judgement.exists);
    QCOMPARE(judgement.verdict, Verdict::Unfinished);
}

QTEST_GUILESS_MAIN(TestImageCheck)
#include "tst_image_check.moc"
