#include "imaging/image_file.h"
#include "imaging/image_name.h"
#include "imaging/imaging_engine.h"
#include "imaging/imaging_state.h"
#include "imaging/size_text.h"
#include "tape_fixtures.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using Imaging::Answer;
using Imaging::BlockDecision;

namespace {

constexpr quint64 kNoData = ~quint64(0); // block count when end of data is at block 0

/// "65536*2,0" as 65536, 65536, 0.
QVector<uint> lengths(const QString &text)
{
    QVector<uint> list;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        list += QVector<uint>(
            item.section(QLatin1Char('*'), 1).toInt() + !item.contains(QLatin1Char('*')),
            item.section(QLatin1Char('*'), 0, 0).toUInt());
    return list;
}

/// The other way round: runs of equal lengths as "65536*2".
QString lengthsText(const QVector<qint64> &list)
{
    QStringList items;
    for (int i = 0; i < list.size();) {
        int n = 1;
        while (i + n < list.size() && list[i + n] == list[i])
            ++n;
        items << (n > 1 ? QStringLiteral("%1*%2").arg(list[i]).arg(n) : QString::number(list[i]));
        i += n;
    }
    return items.join(QLatin1Char(','));
}

/// Feeds @p reads to the engine the way a driver does and notes what it decides, as
/// "name=value" fields: how it ended, records written, questions asked, the trailer's T
/// and S, percentages shown, lengths cleared after each block, bytes done and in total.
QMap<QString, QString> trace(const QString &choice, const QString &reads, quint64 blockCount,
    qint64 mediaBytes, quint64 positionAfterRewind, const QString &answers)
{
    ImagingState::chosenBlockSize = 0;
    ImagingState::lastReadLength = 0;
    ImagingState::abortFlag = false;
    ImagingState::blockCount = blockCount;
    ImagingState::totalBytes = mediaBytes;
    QVector<qint64> records, clears, percents;
    int asks = 0;
    QString end = QStringLiteral("wants more blocks");
    Imaging::ImagingEngine engine(choice);
    const QStringList script = answers.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto ask = [&] {
        return script.value(asks++) == QLatin1String("yes") ? Answer::Yes : Answer::Closed;
    };
    if (engine.start(positionAfterRewind)) {
        end = QStringLiteral("end");
    } else {
        for (uint length : lengths(reads)) {
            const Imaging::BlockStep step = engine.nextBlock(length, ask);
            if (step.decision == BlockDecision::Abandon || step.decision == BlockDecision::Refuse) {
                end = step.decision == BlockDecision::Abandon ? QStringLiteral("abandon")
                                                              : QStringLiteral("refuse");
                break;
            }
            records << step.recordLength;
            clears << step.clearLength;
            if (step.percentKnown && !step.endAfterWrite) // the run ends before its progress
                percents << step.percent;
            if (step.endAfterWrite || step.endAfterProgress) {
                end = QStringLiteral("end");
                break;
            }
        }
    }
    const bool stopped = end == QLatin1String("abandon") || end == QLatin1String("refuse");
    return { { QStringLiteral("end"), end }, { QStringLiteral("records"), lengthsText(records) },
        { QStringLiteral("asks"), QString::number(asks) },
        { QStringLiteral("T"), QString::number(Imaging::ImagingEngine::trailerTapeBlockLength()) },
        { QStringLiteral("S"), QString::number(Imaging::ImagingEngine::trailerBlockSize()) },
        { QStringLiteral("percents"), lengthsText(percents) },
        { QStringLiteral("clears"), lengthsText(clears) },
        { QStringLiteral("done"), QString::number(ImagingState::bytesDone) },
        { QStringLiteral("total"), QString::number(ImagingState::totalBytes) },
        { QStringLiteral("aborted"), QString::number(ImagingState::abortFlag == stopped) } };
}

ImageFile::Trailer trailerOf(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ImageFile::readTrailer(buffer);
}

} // namespace

class TestImagingEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    // Reads as "65536*5,0" (a tape mark reads 0 bytes), answers to the questions in order
    // ("yes", anything else closes it), and the fields of trace() that must come out so.
    void runs_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<quint64>("blockCount");
        QTest::addColumn<qint64>("mediaBytes");
        QTest::addColumn<quint64>("position"); // after the rewind
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("expected");
        // The decisions the window's full runs (tst_create_road) do not reach, and the
        // percentages they do not see.
        // clang-format off
        QTest::newRow("Auto, 64 KiB blocks") << "Auto" << "65536*5" << quint64(5) << qint64(327700)
            << quint64(0) << "" << "end=end records=65536*5 asks=0 T=65536 S=65536 percents=20,40,60,80,100";
        QTest::newRow("131072 accepted: padded, half the blocks") << "131072" << "65536*4"
            << quint64(4) << qint64(262200) << quint64(0) << "yes"
            << "end=end records=131072*2 asks=1 T=65536 S=131072 percents=25,50";
        QTest::newRow("question closed, then accepted") << "131072" << "65536*4" << quint64(4)
            << qint64(262200) << quint64(0) << "closed,yes"
            << "end=end records=65536,131072*2 asks=2 T=65536 S=131072 percents=25,50,75";
        QTest::newRow("longer block after good ones") << "65536" << "65536,70000" << quint64(3)
            << qint64(200000) << quint64(0) << "" << "end=refuse records=65536 asks=0 T=70000 S=65536 percents=33";
        QTest::newRow("short last block accepted") << "65536" << "65536*2,1000" << quint64(3)
            << qint64(200000) << quint64(0) << "yes"
            << "end=end records=65536*3 asks=1 T=1000 S=65536 percents=33,66,100";
        QTest::newRow("Auto, tape mark inside") << "Auto" << "65536,0,65536*2" << quint64(4)
            << qint64(262200) << quint64(0) << "" << "end=end records=65536*4 asks=0 T=65536 S=65536 percents=25,50,75,100";
        QTest::newRow("Auto, tape mark first") << "Auto" << "0,32768" << quint64(2) << qint64(40000)
            << quint64(0) << "" << "end=end records=65536,32768 asks=0 T=32768 S=32768 percents=50,100";
        QTest::newRow("131072, tape mark after yes") << "131072" << "65536,0,65536*2" << quint64(4)
            << qint64(262200) << quint64(0) << "yes" << "end=end records=131072*2 asks=1 T=65536 S=131072 percents=25,50";
        QTest::newRow("end of data at block 1, tape mark") << "Auto" << "0" << quint64(0)
            << qint64(4) << quint64(0) << "" << "end=end records=65536 asks=0 T=0 S=65536 percents=";
        QTest::newRow("end of data at block 0") << "Auto" << "0" << kNoData << qint64(4) << quint64(0)
            << "" << "end=end records=65536 asks=0 T=0 S=65536 percents=-100";
        QTest::newRow("65536, end of data at block 0") << "65536" << "0" << kNoData << qint64(4)
            << quint64(0) << "yes" << "end=end records=65536 asks=1 T=65536 S=65536 percents=-100";
        // Unanswered questions leave the first block's size in force; the longer second
        // block must still be wiped so it cannot pad the shorter third one.
        QTest::newRow("clears what the block filled") << "131072" << "100000,120000,50000"
            << quint64(3) << qint64(300000) << quint64(0) << ""
            << "asks=3 records=100000*3 clears=100000,120000,100000";
        // Bytes done start at the position after the rewind, already at the end here.
        QTest::newRow("position at the end") << "Auto" << "512*2" << quint64(2) << qint64(100)
            << quint64(100) << "" << "records= done=100";
        QTest::newRow("position before the blocks") << "Auto" << "512*2" << quint64(2)
            << qint64(1024) << quint64(3) << "" << "done=1027";
        QTest::newRow("total is a 64-bit product") << "524288" << "524288*3" << quint64(20000000)
            << qint64(1) << quint64(0) << "" << "total=10485760000000";
        // clang-format on
    }

    void runs()
    {
        QFETCH(QString, choice);
        QFETCH(QString, reads);
        QFETCH(quint64, blockCount);
        QFETCH(qint64, mediaBytes);
        QFETCH(quint64, position);
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        const QMap<QString, QString> run
            = trace(choice, reads, blockCount, mediaBytes, position, answers);
        QCOMPARE(run.value(QStringLiteral("aborted")), QStringLiteral("1"));
        for (const QString &field : expected.split(QLatin1Char(' ')))
            QCOMPARE(field.section(QLatin1Char('='), 0, 0) + QLatin1Char('=')
                    + run.value(field.section(QLatin1Char('='), 0, 0)),
                field);
    }

    void imageName_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        // clang-format off
        QTest::newRow("folder") << "/srv/images"
            << "/srv/images/Tape_Image_(Fri Dec 04 2026 07-25-12).tape";
        QTest::newRow("root doubles the separator") << "/"
            << "//Tape_Image_(Fri Dec 04 2026 07-25-12).tape";
        QTest::newRow("drive root") << "C:/" << "C://Tape_Image_(Fri Dec 04 2026 07-25-12).tape";
        // clang-format on
    }

    void imageName()
    {
        QFETCH(QString, folder);
        const QDateTime when(QDate(2026, 12, 4), QTime(7, 25, 12));
        QTEST(ImageName::imagePath(folder, ImageName::timeStamp(when, QLocale::c())), "path");
        QCOMPARE(ImageName::timeStamp(QDateTime(QDate(2026, 1, 5), QTime(23, 0, 9)), QLocale::c()),
            QStringLiteral("Mon Jan 05 2026 23-00-09"));
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const qint64 mib = Q_INT64_C(1) << 20;
        QTest::newRow("2^20 - 1") << mib - 1 << "Image Size:  1024.00 KB in disk";
        QTest::newRow("2^20") << mib << "Image Size:  1.00 MB in disk";
        QTest::newRow("2^30 - 1") << (mib << 10) - 1 << "Image Size:  1024.00 MB in disk";
        QTest::newRow("2^30") << (mib << 10) << "Image Size:  1.00 GB in disk";
        QTest::newRow("2^40") << (mib << 20) << "Image Size:  1.00 TB in disk";
        QTest::newRow("12 TB tape") << Q_INT64_C(12000000000000) << "Image Size:  10.91 TB in disk";
        QTest::newRow("wrapped total") << qint64(-65536) << "Image Size:  -64.00 KB in disk";
    }

    void sizeText()
    {
        QFETCH(qint64, bytes);
        QTEST(SizeText::imageSize(bytes), "text");
        QTEST(SizeText::imageSize(bytes, SizeText::Comparison::FloatingPoint), "text");
    }

    // The tools' and the scanner's sizes: bytes below a KB, one byte singular, TB the largest
    // unit, and the window's words never leaking into them.
    void humanSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("windowUnits");
        const qint64 kib = 1024;
        QTest::newRow("none") << qint64(0) << "0 bytes"
                              << "0.00 KB";
        QTest::newRow("one") << qint64(1) << "1 byte"
                             << "0.00 KB";
        QTest::newRow("under a KB") << kib - 1 << "1023 bytes"
                                    << "1.00 KB";
        QTest::newRow("a KB") << kib << "1.00 KB"
                              << "1.00 KB";
        QTest::newRow("1.5 MB") << kib * kib * 3 / 2 << "1.50 MB"
                                << "1.50 MB";
        QTest::newRow("2^40") << (kib << 30) << "1.00 TB"
                              << "1.00 TB";
        QTest::newRow("past TB") << (kib << 40) << "1024.00 TB"
                                 << "1024.00 TB";
    }

    void humanSize()
    {
        QFETCH(qint64, bytes);
        QTEST(SizeText::human(double(bytes)), "text");
        QTEST(SizeText::windowUnits(bytes), "windowUnits");
    }

    void trailer_data()
    {
        QTest::addColumn<quint32>("tapeBlock");
        QTest::addColumn<quint32>("blockSize");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("65536 run") << 65536u << 65536u << QByteArray(" 65536 5 65536 5");
        QTest::newRow("empty image") << 0u << 0u << QByteArray(" 0 1 0 1");
        QTest::newRow("9 and 10") << 9u << 10u << QByteArray(" 9 1 10 2");
        QTest::newRow("99 and 524288") << 99u << 524288u << QByteArray(" 99 2 524288 6");
        QTest::newRow("over-long block") << 524289u << 65536u << QByteArray(" 524289 6 65536 5");
    }

    // The trailer as written to a real file (under a UTF-8 name), byte for byte, and read back.
    void trailer()
    {
        QFETCH(quint32, tapeBlock);
        QFETCH(quint32, blockSize);
        QFETCH(QByteArray, text);
        QCOMPARE(ImageFile::trailerText(tapeBlock, blockSize), text);

        const QString path = m_dir.filePath(QStringLiteral("Bänder – テープ (1).tape"));
        std::FILE *file = ImageFile::openForWriting(path);
        QVERIFY(file);
        QVERIFY(ImageFile::writeTrailer(file, tapeBlock, blockSize));
        QCOMPARE(std::fclose(file), 0);
        QCOMPARE(fileBytes(path), text);

        const ImageFile::Trailer read = ImageFile::readTrailer(path);
        QVERIFY2(read.valid, qPrintable(read.problem));
        QCOMPARE((QVector<qint64> { qint64(read.tapeBlockLength), qint64(read.blockSize),
                     read.trailerLength, read.bodyLength, read.recordCount }),
            (QVector<qint64> { tapeBlock, blockSize, text.size(), 0, 0 }));
    }

    void recordsArePaddedWithZeros()
    {
        const QString path = m_dir.filePath(QStringLiteral("records.tape"));
        std::FILE *file = ImageFile::openForWriting(path);
        QVERIFY(file);
        QByteArray buffer(1024, char(0xEE)); // what an earlier, longer block left behind
        auto *data = reinterpret_cast<unsigned char *>(buffer.data());
        QVERIFY(ImageFile::writeRecord(file, data, 512, 512));
        buffer.fill('b', 100);
        QVERIFY(ImageFile::writeRecord(file, data, 100, 512));
        QVERIFY(ImageFile::writeRecord(file, data, 0, 512));
        QVERIFY(ImageFile::writeTrailer(file, 100, 512));
        QCOMPARE(std::fclose(file), 0);

        QCOMPARE(fileBytes(path),
            QByteArray(512, char(0xEE)) + QByteArray(100, 'b') + QByteArray(412 + 512, '\0')
                + " 100 3 512 3");
        const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
        QVERIFY(trailer.valid && trailer.bodyDividesEvenly);
        QVERIFY(trailer.bodyLength == 1536 && trailer.recordCount == 3);
    }

    void fileWithoutTrailer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("seven bytes") << QByteArray(" 0 1 0 ");
        QTest::newRow("abandoned run") << QByteArray(4096, char(0xA5));
        QTest::newRow("line end after") << QByteArray(" 65536 5 65536 5\n");
        QTest::newRow("blank missing in front") << QByteArray("65536 5 65536 5");
        QTest::newRow("digit count too small") << QByteArray("xx 65536 4 65536 5");
        QTest::newRow("leading zero") << QByteArray("xx 065536 6 65536 5");
        QTest::newRow("zero digits") << QByteArray("xx 65536 5 65536 0");
        QTest::newRow("two blanks") << QByteArray("xx 65536 5  65536 5");
        QTest::newRow("letters") << QByteArray("xx 65a36 5 65536 5");
    }

    void fileWithoutTrailer()
    {
        QFETCH(QByteArray, bytes);
        const ImageFile::Trailer trailer = trailerOf(bytes);
        QVERIFY(!trailer.valid && !trailer.problem.isEmpty());
        QCOMPARE(trailer.fileSize, qint64(bytes.size()));
        QCOMPARE(trailer.bodyLength, qint64(bytes.size()));
        const ImageFile::Trailer missing
            = ImageFile::readTrailer(m_dir.filePath(QStringLiteral("none.tape")));
        QVERIFY(!missing.valid && !missing.problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestImagingEngine)
#include "tst_imaging_engine.moc"
