#include "imaging/image_name.h"
#include "imaging/imaging_engine.h"
#include "imaging/imaging_state.h"
#include "imaging/size_text.h"

#include <QtTest>

using Imaging::Answer;
using Imaging::Verdict;

using Lengths = QVector<uint>;
using Answers = QVector<int>; // Imaging::Answer values, in the order the questions come
using Percents = QVector<qint64>;

namespace {

constexpr quint64 kNoData = ~quint64(0); // block count when end of data is at block 0

/// What a run looks like from outside: records written, questions, how it ended.
struct RunTrace
{
    Lengths records;
    Lengths clears;
    Percents percents;
    int asks = 0;
    QString end;
};

/// Feeds @p reads to the engine the way a driver does and notes what it decides.
RunTrace trace(const QString &choice, const Lengths &reads, quint64 blockCount, qint64 mediaBytes,
    quint64 positionAfterRewind, const Answers &answers)
{
    ImagingState::chosenBlockSize = 0;
    ImagingState::lastReadLength = 0;
    ImagingState::abortFlag = false;
    ImagingState::blockCount = blockCount;
    ImagingState::totalBytes = mediaBytes;

    RunTrace run;
    Imaging::ImagingEngine engine(choice);
    if (engine.start(positionAfterRewind)) {
        run.end = QStringLiteral("end");
        return run;
    }
    const auto ask
        = [&] { return static_cast<Answer>(answers.value(run.asks++, int(Answer::Closed))); };
    for (uint length : reads) {
        const Imaging::BlockStep step = engine.nextBlock(length, ask);
        if (step.verdict == Verdict::Abandon || step.verdict == Verdict::Refuse) {
            run.end = step.verdict == Verdict::Abandon ? QStringLiteral("abandon")
                                                       : QStringLiteral("refuse");
            return run;
        }
        run.records << step.recordLength;
        run.clears << step.clearLength;
        if (step.percentKnown && !step.endAfterWrite) // the run ends before its progress
            run.percents << step.percent;
        if (step.endAfterWrite || step.endAfterProgress) {
            run.end = QStringLiteral("end");
            return run;
        }
    }
    run.end = QStringLiteral("wants more blocks");
    return run;
}

Lengths blocks(int count, uint length)
{
    return Lengths(count, length);
}

} // namespace

class TestImagingEngine : public QObject
{
    Q_OBJECT

private slots:
    void runs_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<Lengths>("reads");
        QTest::addColumn<quint64>("blockCount");
        QTest::addColumn<qint64>("mediaBytes");
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<Lengths>("records");
        QTest::addColumn<int>("asks");
        QTest::addColumn<QString>("end");
        QTest::addColumn<uint>("tapeBlockLength");
        QTest::addColumn<uint>("blockSize");
        QTest::addColumn<Percents>("percents");

        const int yes = int(Answer::Yes), closed = int(Answer::Closed);
        const QString autoSize = QStringLiteral("Auto");
        // The decisions the window's full runs (tst_create_road) do not reach, and the
        // percentages they do not see.
        // clang-format off
        QTest::newRow("Auto, 64 KiB blocks") << autoSize << blocks(5, 65536) << quint64(5)
            << qint64(327700) << Answers{} << blocks(5, 65536) << 0 << "end" << 65536u << 65536u
            << Percents{20, 40, 60, 80, 100};
        QTest::newRow("131072 accepted: padded, half the blocks") << "131072" << blocks(4, 65536)
            << quint64(4) << qint64(262200) << Answers{yes} << blocks(2, 131072) << 1 << "end"
            << 65536u << 131072u << Percents{25, 50};
        QTest::newRow("question closed, then accepted") << "131072" << blocks(4, 65536)
            << quint64(4) << qint64(262200) << Answers{closed, yes}
            << Lengths{65536, 131072, 131072} << 2 << "end" << 65536u << 131072u
            << Percents{25, 50, 75};
        QTest::newRow("longer block after good ones") << "65536" << Lengths{65536, 70000}
            << quint64(3) << qint64(200000) << Answers{} << Lengths{65536} << 0 << "refuse"
            << 70000u << 65536u << Percents{33};
        QTest::newRow("short last block accepted") << "65536" << Lengths{65536, 65536, 1000}
            << quint64(3) << qint64(200000) << Answers{yes} << blocks(3, 65536) << 1 << "end"
            << 1000u << 65536u << Percents{33, 66, 100};
        QTest::newRow("Auto, tape mark inside") << autoSize << Lengths{65536, 0, 65536, 65536}
            << quint64(4) << qint64(262200) << Answers{} << blocks(4, 65536) << 0 << "end"
            << 65536u << 65536u << Percents{25, 50, 75, 100};
        QTest::newRow("Auto, tape mark first") << autoSize << Lengths{0, 32768} << quint64(2)
            << qint64(40000) << Answers{} << Lengths{65536, 32768} << 0 << "end" << 32768u
            << 32768u << Percents{50, 100};
        QTest::newRow("131072, tape mark after yes") << "131072" << Lengths{65536, 0, 65536, 65536}
            << quint64(4) << qint64(262200) << Answers{yes} << blocks(2, 131072) << 1 << "end"
            << 65536u << 131072u << Percents{25, 50};
        QTest::newRow("end of data at block 1, tape mark") << autoSize << Lengths{0}
            << quint64(0) << qint64(4) << Answers{} << Lengths{65536} << 0 << "end" << 0u
            << 65536u << Percents{};
        QTest::newRow("end of data at block 0") << autoSize << Lengths{0} << kNoData
            << qint64(4) << Answers{} << Lengths{65536} << 0 << "end" << 0u << 65536u
            << Percents{-100};
        QTest::newRow("65536, end of data at block 0") << "65536" << Lengths{0} << kNoData
            << qint64(4) << Answers{yes} << Lengths{65536} << 1 << "end" << 65536u << 65536u
            << Percents{-100};
        // clang-format on
    }

    void runs()
    {
        QFETCH(QString, choice);
        QFETCH(Lengths, reads);
        QFETCH(quint64, blockCount);
        QFETCH(qint64, mediaBytes);
        QFETCH(Answers, answers);

        const RunTrace run = trace(choice, reads, blockCount, mediaBytes, 0, answers);

        QTEST(run.end, "end");
        QTEST(run.records, "records");
        QTEST(run.asks, "asks");
        QTEST(uint(Imaging::ImagingEngine::trailerTapeBlockLength()), "tapeBlockLength");
        QTEST(uint(Imaging::ImagingEngine::trailerBlockSize()), "blockSize");
        QTEST(run.percents, "percents");
        QCOMPARE(ImagingState::abortFlag,
            run.end == QLatin1String("abandon") || run.end == QLatin1String("refuse"));
    }

    void bytesDoneStartsAtThePositionAfterRewind()
    {
        const RunTrace atEnd = trace(QStringLiteral("Auto"), blocks(2, 512), 2, 100, 100, {});
        QCOMPARE(atEnd.records, Lengths {});
        QCOMPARE(ImagingState::bytesDone, qint64(100));

        trace(QStringLiteral("Auto"), blocks(2, 512), 2, 1024, 3, {});
        QCOMPARE(ImagingState::bytesDone, qint64(3 + 2 * 512));
    }

    void clearsEverythingTheBlockFilled()
    {
        // Unanswered questions leave the first block's size in force; the longer second
        // block must still be wiped so it cannot pad the shorter third one.
        const RunTrace run = trace(
            QStringLiteral("131072"), Lengths { 100000, 120000, 50000 }, 3, 300000, 0, Answers {});
        QCOMPARE(run.asks, 3);
        QCOMPARE(run.records, (Lengths { 100000, 100000, 100000 }));
        QCOMPARE(run.clears, (Lengths { 100000, 120000, 100000 }));
    }

    void totalBytesIsA64BitProduct()
    {
        trace(QStringLiteral("524288"), blocks(3, 524288), 20000000, 1, 0, {});
        QCOMPARE(ImagingState::totalBytes, qint64(524288) * 20000000);
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
        const QString stamp = ImageName::timeStamp(when, QLocale::c());
        QTEST(ImageName::imagePath(folder, stamp), "path");
        QCOMPARE(ImageName::timeStamp(QDateTime(QDate(2026, 1, 5), QTime(23, 0, 9)), QLocale::c()),
            QStringLiteral("Mon Jan 05 2026 23-00-09"));
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const qint64 mib = Q_INT64_C(1) << 20;
        QTest::newRow("0") << qint64(0) << "Image Size:  0.00 KB in disk";
        QTest::newRow("2^20 - 1") << mib - 1 << "Image Size:  1024.00 KB in disk";
        QTest::newRow("2^20") << mib << "Image Size:  1.00 MB in disk";
        QTest::newRow("1.5 x 2^20") << mib * 3 / 2 << "Image Size:  1.50 MB in disk";
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
};

QTEST_GUILESS_MAIN(TestImagingEngine)
#include "tst_imaging_engine.moc"
