// The st backend's mapping logic against recorded answers. What the real st
// driver shows (marks, the end of data, positions, eject, the sg node) is
// proved by the st driver harness, tests/st-driver/.
#include "platform/st/scsi_inquiry.h"
#include "platform/st/st_mapping.h"
#include "platform/st/st_tape.h"

#include <QtTest>

#include <cerrno>
#include <sys/mtio.h>

namespace {

// Records as st hands them over: a read longer than the drive's largest block is
// refused before the tape moves, a record longer than the read fails with ENOMEM
// after the tape has passed it.
class FakeDrive : public StSystem
{
public:
    QVector<int> records;
    int position = 0;
    std::size_t largestRead = StTape::kLargestRecord;
    QStringList reads; ///< the length of every read asked for
    QSet<int> unreadable; ///< records that fail with EIO, the tape moving past them
    bool endOfDataFlag = false; ///< st's GMT_EOD, set only right after a filemark

    int open(const char *, int) override { return 3; }
    int close(int) override { return 0; }
    std::string genericNodeFor(const std::string &) override { return {}; }

    int ioctl(int, unsigned long request, void *argument) override
    {
        const int op = request == MTIOCTOP ? static_cast<mtop *>(argument)->mt_op : -1;
        if (op == MTBSR)
            position -= static_cast<mtop *>(argument)->mt_count;
        else if (op == MTEOM)
            position = records.size();
        else if (op == MTREW)
            position = 0;
        else if (request == MTIOCGET)
            static_cast<mtget *>(argument)->mt_gstat
                = GMT_ONLINE(0xFFFFFFFF) | (endOfDataFlag ? GMT_EOD(0xFFFFFFFF) : 0);
        else if (request == MTIOCPOS)
            static_cast<mtpos *>(argument)->mt_blkno = position;
        return 0;
    }

    long read(int, void *buffer, std::size_t length) override
    {
        reads << QString::number(length);
        if (position < records.size() && unreadable.contains(position)) {
            ++position;
            errno = EIO;
            return -1;
        }
        errno = length > largestRead ? EINVAL : position >= records.size() ? EIO : ENOMEM;
        if (errno != ENOMEM || std::size_t(records.at(position++)) > length)
            return -1;
        const int record = records.at(position - 1);
        for (int i = 0; i < record; ++i)
            static_cast<unsigned char *>(buffer)[i] = static_cast<unsigned char>(i % 251);
        return record;
    }
};

} // namespace

class TestStTape : public QObject
{
    Q_OBJECT

private slots:
    void statusAndEio_data()
    {
        QTest::addColumn<long>("gstat");
        QTest::addColumn<DWORD>("status");
        QTest::addColumn<DWORD>("afterEio");
        const long online = GMT_ONLINE(0xFFFFFFFF);
        QTest::newRow("ready") << online << NO_ERROR << ERROR_CRC;
        QTest::newRow("offline") << 0L << ERROR_NOT_READY << ERROR_CRC;
        QTest::newRow("door open")
            << long(GMT_DR_OPEN(0xFFFFFFFF)) << ERROR_NO_MEDIA_IN_DRIVE << ERROR_NO_MEDIA_IN_DRIVE;
        QTest::newRow("end of data")
            << (online | GMT_EOD(0xFFFFFFFF)) << NO_ERROR << ERROR_NO_DATA_DETECTED;
        QTest::newRow("end of tape")
            << (online | GMT_EOT(0xFFFFFFFF)) << NO_ERROR << ERROR_END_OF_MEDIA;
    }

    void statusAndEio()
    {
        QFETCH(long, gstat);
        QTEST(StMapping::statusToError(gstat), "status");
        QTEST(StMapping::readEioToError(gstat), "afterEio");
    }

    void openErrors()
    {
        QCOMPARE(StMapping::errnoToError(ENOENT), ERROR_FILE_NOT_FOUND);
        QCOMPARE(StMapping::errnoToError(EBUSY), ERROR_SHARING_VIOLATION);
        QCOMPARE(StMapping::errnoToError(EACCES), ERROR_ACCESS_DENIED);
        QCOMPARE(StMapping::errnoToError(ENOMEDIUM), ERROR_NO_MEDIA_IN_DRIVE);
    }

    void capacityPage_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<quint64>("remaining");
        QTest::addColumn<quint64>("maximum");
        // Parameters 1 to 4, four bytes each, as a drive sends them.
        const QByteArray full = QByteArray::fromHex("31000020"
                                                    "0001400400155cc0"
                                                    "0002400400000000"
                                                    "000340040016e360"
                                                    "0004400400000000");
        const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
        const quint64 none = 0;
        // clang-format off
        QTest::newRow("four parameters") << full << true << quint64(1400000) << quint64(1500000);
        QTest::newRow("buffer longer than page") << full + QByteArray(40, char(0xFF)) << true
            << quint64(1400000) << quint64(1500000);
        QTest::newRow("eight-byte values")
            << hex("3100001800010008000000000000000500030008000000010000000000") << true
            << quint64(5) << (quint64(1) << 32);
        QTest::newRow("cut inside parameter 3") << full.left(4 + 8 + 8 + 6) << false << none << none;
        QTest::newRow("page says it is longer") << full.left(4 + 8) << false << none << none;
        QTest::newRow("another page") << hex("30000008000100040000000a") << false << none << none;
        QTest::newRow("header only") << hex("31000000") << false << none << none;
        QTest::newRow("zero-length parameter then both")
            << hex("310000140005000000010001070003000109") << true << quint64(7) << quint64(9);
        // clang-format on
    }

    void capacityPage()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, parsed);
        StMapping::CapacityPage page;
        const auto *bytes = reinterpret_cast<const unsigned char *>(answer.constData());
        QCOMPARE(StMapping::parseCapacityPage(bytes, std::size_t(answer.size()), page), parsed);
        if (parsed) {
            QTEST(quint64(page.remainingMiB), "remaining");
            QTEST(quint64(page.maximumMiB), "maximum");
        }
    }

    void mediaFigures_data()
    {
        QTest::addColumn<quint64>("remainingMiB");
        QTest::addColumn<quint64>("maximumMiB");
        QTest::addColumn<qint64>("objects"); ///< before the end of data, -1 unknown
        QTest::addColumn<qint64>("remaining"); ///< MiB
        QTest::newRow("several MiB recorded")
            << quint64(90) << quint64(100) << qint64(12) << qint64(90);
        QTest::newRow("under 1 MiB recorded")
            << quint64(100) << quint64(100) << qint64(5) << qint64(99);
        QTest::newRow("blank, counted as some")
            << quint64(99) << quint64(100) << qint64(0) << qint64(100);
        QTest::newRow("end not known yet")
            << quint64(100) << quint64(100) << qint64(-1) << qint64(100);
        QTest::newRow("remaining above maximum")
            << quint64(120) << quint64(100) << qint64(3) << qint64(99);
    }

    void mediaFigures()
    {
        QFETCH(quint64, remainingMiB);
        QFETCH(quint64, maximumMiB);
        QFETCH(qint64, objects);
        QFETCH(qint64, remaining);
        StMapping::CapacityPage page;
        page.remainingMiB = remainingMiB;
        page.maximumMiB = maximumMiB;
        const StMapping::MediaFigures figures = StMapping::mediaFigures(page, objects);
        QCOMPARE(figures.capacity, qint64(maximumMiB) << 20);
        QCOMPARE(figures.remaining, remaining << 20);
    }

    // Two records: the second read starts at the length st took for the first.
    void overLongRecord_data()
    {
        QTest::addColumn<quint32>("length"); ///< the caller's buffer
        QTest::addColumn<qulonglong>("largestRead");
        QTest::addColumn<int>("record");
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<QStringList>("reads"); ///< the lengths asked for, both reads
        const QStringList largest = { QStringLiteral("524289"), QStringLiteral("16777215") };
        const QStringList halved = largest
            + QStringList { QStringLiteral("8388608"), QStringLiteral("4194304"),
                  QStringLiteral("2097152"), QStringLiteral("1048576") };
        const QStringList again = { QStringLiteral("524289"), QStringLiteral("1048576") };
        const quint32 engine = 0x80001;
        QTest::newRow("the drive takes the largest record")
            << engine << qulonglong(StTape::kLargestRecord) << 600000 << ERROR_MORE_DATA
            << largest + largest;
        QTest::newRow("halved until the drive takes it")
            << engine << qulonglong(1 << 20) << (1 << 20) << ERROR_MORE_DATA << halved + again;
        QTest::newRow("longer than any read the drive takes")
            << engine << qulonglong(1 << 20) << 2000000 << ERROR_CRC << halved + again;
        QTest::newRow("the drive's largest block is shorter than the buffer")
            << engine << qulonglong(1 << 18) << 1001 << NO_ERROR
            << halved
                + QStringList { QStringLiteral("524288"), QStringLiteral("262144"),
                      QStringLiteral("262144") };
        QTest::newRow("a master's buffer, longer than the drive's largest block")
            << quint32(StTape::kLargestRecord) << qulonglong(1 << 20) << 1001 << NO_ERROR
            << halved.mid(1) + QStringList { QStringLiteral("1048576") };
    }

    void overLongRecord()
    {
        FakeDrive drive;
        QFETCH(quint32, length);
        QFETCH(qulonglong, largestRead);
        QFETCH(int, record);
        QFETCH(DWORD, error);
        drive.largestRead = largestRead;
        drive.records = { record, record };
        DWORD openError = 1;
        auto tape = StTape::open("/dev/nst0", openError, drive);
        QByteArray buffer(int(length), '\x5a');
        std::uint32_t got = 12345;
        QCOMPARE(tape->read(buffer.data(), length, got), error);
        buffer.fill('\x5a');
        QCOMPARE(tape->read(buffer.data(), length, got), error);
        QTEST(drive.reads, "reads");
        QCOMPARE(drive.position, 2);
        // The first bytes of the record, or none at all; never what was there before.
        const std::uint32_t whole = std::min<std::uint32_t>(std::uint32_t(record), length);
        QCOMPARE(got, error == ERROR_CRC ? 0u : whole);
        if (got > 0)
            QCOMPARE(buffer.at(int(got) - 1), char((got - 1) % 251));
        if (got < length && length <= StTape::kClearedRead)
            QCOMPARE(buffer.at(int(got)), '\0');
    }

    // A read past the last record fails with EIO and nothing in the status says why
    // unless a filemark came just before: the end of data must not be taken for an
    // unreadable block (a run would read on past it), nor an unreadable block for
    // the end of data (a run would stop early and call the image whole).
    void readFailure_data()
    {
        QTest::addColumn<bool>("spaced"); ///< spaceToEndOfData() ran first
        QTest::addColumn<bool>("eodFlag");
        QTest::addColumn<int>("badRecord"); ///< -1: none
        QTest::addColumn<int>("reads"); ///< reads before the one checked
        QTest::addColumn<DWORD>("error");
        QTest::newRow("end of data, its position known")
            << true << false << -1 << 3 << ERROR_NO_DATA_DETECTED;
        QTest::newRow("end of data flagged by st")
            << false << true << -1 << 3 << ERROR_NO_DATA_DETECTED;
        QTest::newRow("end of data, position not known") << false << false << -1 << 3 << ERROR_CRC;
        QTest::newRow("unreadable block before the end") << true << false << 1 << 1 << ERROR_CRC;
    }

    void readFailure()
    {
        QFETCH(bool, spaced);
        QFETCH(bool, eodFlag);
        QFETCH(int, badRecord);
        QFETCH(int, reads);
        FakeDrive drive;
        drive.records = { 100, 100, 100 };
        if (badRecord >= 0)
            drive.unreadable.insert(badRecord);
        DWORD openError = 1;
        auto tape = StTape::open("/dev/nst0", openError, drive);
        QVERIFY(tape);
        if (spaced) {
            QCOMPARE(tape->spaceToEndOfData(), NO_ERROR);
            QCOMPARE(tape->seekBlock(0), NO_ERROR);
        }
        QByteArray buffer(1000, '\0');
        std::uint32_t got = 0;
        for (int i = 0; i < reads; ++i)
            QCOMPARE(tape->read(buffer.data(), 1000, got), DWORD(NO_ERROR));
        drive.endOfDataFlag = eodFlag;
        QTEST(tape->read(buffer.data(), 1000, got), "error");
        QCOMPARE(got, 0u);
    }

    // Who the drive is, from recorded INQUIRY answers: the standard data and the serial page.
    void inquiryAnswers_data()
    {
        QTest::addColumn<bool>("serialPage");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("read"); // vendor|product|revision, or the serial, or "refused"
        const QByteArray header = QByteArray::fromHex("0180050200000000");
        QTest::newRow("standard data") << false << header + "HP      Ultrium 6-SCSI  35GD"
                                       << "HP|Ultrium 6-SCSI|35GD";
        QTest::newRow("standard data cut short") << false << header + "HP      Ultrium"
                                                 << "refused";
        QTest::newRow("serial page") << true << QByteArray::fromHex("0180000a") + "  HU1234  "
                                     << "HU1234";
        QTest::newRow("serial page longer than the answer")
            << true << QByteArray::fromHex("018000ff") + "HU1234"
            << "refused";
        QTest::newRow("another page") << true << QByteArray::fromHex("0183000a") + "  HU1234  "
                                      << "refused";
    }

    void inquiryAnswers()
    {
        QFETCH(bool, serialPage);
        QFETCH(QByteArray, answer);
        const auto *data = reinterpret_cast<const unsigned char *>(answer.constData());
        const std::size_t length = std::size_t(answer.size());
        std::string vendor, product, revision, serial;
        QString read = QStringLiteral("refused");
        if (serialPage && ScsiInquiry::parseSerialPage(data, length, serial))
            read = QString::fromStdString(serial);
        else if (!serialPage && ScsiInquiry::parseStandard(data, length, vendor, product, revision))
            read = QString::fromStdString(vendor + '|' + product + '|' + revision);
        QTEST(read, "read");
    }
};

QTEST_GUILESS_MAIN(TestStTape)
#include "tst_st_tape.moc"
