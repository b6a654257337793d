#include "platform/st_mapping.h"
#include "platform/st_tape.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/mtio.h>

namespace {

constexpr int kStFd = 3;
constexpr int kGenericFd = 4;

// A drive as the st driver shows it: records and filemarks, then end of data.
class FakeDrive : public StSystem
{
public:
    enum Kind { Record, Mark, Bad };
    struct Object
    {
        Kind kind;
        int length;
    };

    QVector<Object> tape;
    int position = 0;
    bool endSeen = false; ///< the last read ran into the end of data
    long gstat = GMT_ONLINE(0xFFFFFFFF);
    int openErrno = 0;
    QStringList log; ///< operations in order
    QByteArray stAnswer; ///< LOG SENSE answer on the st node (empty: EPERM)
    QByteArray genericAnswer; ///< LOG SENSE answer on the generic node
    QString genericNode = QStringLiteral("/dev/sg7");
    int openFlags = 0;

    int open(const char *path, int flags) override
    {
        log << QStringLiteral("open %1").arg(QString::fromLatin1(path));
        if (QByteArray(path) == genericNode.toLatin1())
            return kGenericFd;
        openFlags = flags;
        errno = openErrno;
        return openErrno ? -1 : kStFd;
    }

    int close(int fd) override
    {
        log << QStringLiteral("close %1").arg(fd);
        return 0;
    }

    int ioctl(int fd, unsigned long request, void *argument) override
    {
        if (request == MTIOCTOP)
            return operation(*static_cast<mtop *>(argument));
        if (request == MTIOCGET) {
            auto *state = static_cast<mtget *>(argument);
            state->mt_gstat = gstat | (endSeen ? GMT_EOD(0xFFFFFFFF) : 0);
            return 0;
        }
        if (request == MTIOCPOS) {
            static_cast<mtpos *>(argument)->mt_blkno = position;
            return 0;
        }
        if (request == SG_IO)
            return logSense(fd, *static_cast<sg_io_hdr_t *>(argument));
        errno = ENOTTY;
        return -1;
    }

    long read(int, void *buffer, std::size_t length) override
    {
        log << QStringLiteral("read %1").arg(length);
        endSeen = position >= tape.size();
        if (endSeen) {
            errno = EIO;
            return -1;
        }
        const Object object = tape.at(position++);
        if (object.kind == Mark)
            return 0;
        if (object.kind == Bad || std::size_t(object.length) > length) {
            errno = object.kind == Bad ? EIO : ENOMEM;
            return -1;
        }
        auto *out = static_cast<unsigned char *>(buffer);
        for (int i = 0; i < object.length; ++i)
            out[i] = static_cast<unsigned char>(position * 31 + i);
        return object.length;
    }

    std::string genericNodeFor(const std::string &) override { return genericNode.toStdString(); }

private:
    int operation(const mtop &request)
    {
        log << QStringLiteral("op %1 %2").arg(request.mt_op).arg(request.mt_count);
        if (request.mt_op == MTBSR)
            position -= request.mt_count;
        else if (request.mt_op == MTREW)
            position = 0;
        else if (request.mt_op == MTEOM)
            position = tape.size();
        return 0;
    }

    int logSense(int fd, sg_io_hdr_t &io)
    {
        const QByteArray &answer = fd == kStFd ? stAnswer : genericAnswer;
        log << QStringLiteral("sg %1 %2")
                   .arg(fd)
                   .arg(QString::fromLatin1(
                       QByteArray(reinterpret_cast<const char *>(io.cmdp), io.cmd_len).toHex()));
        if (answer.isEmpty()) {
            errno = EPERM;
            return -1;
        }
        const int copied = qMin(int(io.dxfer_len), answer.size());
        std::memcpy(io.dxferp, answer.constData(), std::size_t(copied));
        io.resid = int(io.dxfer_len) - copied;
        io.info = SG_INFO_OK;
        return 0;
    }
};

// A page 0x31 answer laid out as a drive sends it: parameters 1 to 4, four bytes each.
QByteArray capacityAnswer(quint32 remaining, quint32 maximum)
{
    QByteArray page = QByteArray::fromHex("31000020");
    const quint32 values[] = { remaining, 0, maximum, 0 };
    for (int code = 1; code <= 4; ++code) {
        const quint32 v = values[code - 1];
        const char parameter[]
            = { 0, char(code), 0x40, 4, char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
        page.append(parameter, 8);
    }
    return page;
}

std::unique_ptr<StTape> openFake(FakeDrive &drive)
{
    DWORD error = 1;
    auto tape = StTape::open("/dev/nst0", error, drive);
    if (tape)
        drive.log.clear();
    return tape;
}

} // namespace

class TestStTape : public QObject
{
    Q_OBJECT

private slots:
    void status_data()
    {
        QTest::addColumn<long>("gstat");
        QTest::addColumn<DWORD>("status");
        QTest::addColumn<DWORD>("afterEio");
        const long online = GMT_ONLINE(0xFFFFFFFF);
        const long open = GMT_DR_OPEN(0xFFFFFFFF);
        QTest::newRow("ready") << online << NO_ERROR << ERROR_CRC;
        QTest::newRow("offline") << 0L << ERROR_NOT_READY << ERROR_CRC;
        QTest::newRow("door open") << open << ERROR_NO_MEDIA_IN_DRIVE << ERROR_NO_MEDIA_IN_DRIVE;
        QTest::newRow("end of data")
            << (online | GMT_EOD(0xFFFFFFFF)) << NO_ERROR << ERROR_NO_DATA_DETECTED;
        QTest::newRow("end of tape")
            << (online | GMT_EOT(0xFFFFFFFF)) << NO_ERROR << ERROR_END_OF_MEDIA;
    }

    void status()
    {
        QFETCH(long, gstat);
        QFETCH(DWORD, status);
        QFETCH(DWORD, afterEio);
        QCOMPARE(StMapping::statusToError(gstat), status);
        QCOMPARE(StMapping::readEioToError(gstat), afterEio);
        FakeDrive drive;
        drive.tape = { { FakeDrive::Record, 1 } };
        drive.gstat = gstat;
        QCOMPARE(openFake(drive)->status(), status);
    }

    void capacityPage_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<quint64>("remaining");
        QTest::addColumn<quint64>("maximum");
        const QByteArray full = capacityAnswer(1400000, 1500000);
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
        QTest::newRow("page says it is longer") << capacityAnswer(1, 2).left(4 + 8) << false
            << none << none;
        QTest::newRow("another page") << hex("30000008000100040000000a") << false << none << none;
        QTest::newRow("header only") << hex("31000000") << false << none << none;
        QTest::newRow("three bytes") << hex("310000") << false << none << none;
        QTest::newRow("zero-length parameter then both")
            << hex("310000140005000000010001070003000109") << true << quint64(7) << quint64(9);
        // clang-format on
    }

    void capacityPage()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, parsed);
        QFETCH(quint64, remaining);
        QFETCH(quint64, maximum);
        StMapping::CapacityPage page;
        const auto *bytes = reinterpret_cast<const unsigned char *>(answer.constData());
        QCOMPARE(StMapping::parseCapacityPage(bytes, std::size_t(answer.size()), page), parsed);
        if (parsed) {
            QCOMPARE(page.remainingMiB, remaining);
            QCOMPARE(page.maximumMiB, maximum);
        }
    }

    void opensWithoutWaitingForAMedium_data()
    {
        QTest::addColumn<int>("openErrno");
        QTest::addColumn<DWORD>("code");
        QTest::newRow("opens") << 0 << NO_ERROR;
        QTest::newRow("no node") << ENOENT << ERROR_FILE_NOT_FOUND;
        QTest::newRow("in use") << EBUSY << ERROR_SHARING_VIOLATION;
        QTest::newRow("no access") << EACCES << ERROR_ACCESS_DENIED;
        QTest::newRow("no medium") << ENOMEDIUM << ERROR_NO_MEDIA_IN_DRIVE;
    }

    void opensWithoutWaitingForAMedium()
    {
        FakeDrive drive;
        QFETCH(int, openErrno);
        drive.openErrno = openErrno;
        DWORD error = 99;
        QCOMPARE(bool(StTape::open("/dev/nst0", error, drive)), openErrno == 0);
        QVERIFY(drive.openFlags & O_NONBLOCK);
        if (openErrno != 0)
            QTEST(error, "code");
    }

    void readsRecordsMarksLongRecordsAndEnd()
    {
        FakeDrive drive;
        drive.tape = { { FakeDrive::Record, 100 }, { FakeDrive::Mark, 0 },
            { FakeDrive::Record, 600000 }, { FakeDrive::Record, 50 }, { FakeDrive::Bad, 0 } };
        auto tape = openFake(drive);
        QByteArray buffer(0x80001, '\0');
        using Read = QPair<DWORD, std::uint32_t>; // the error and the bytes read
        const auto read = [&] {
            std::uint32_t got = 12345;
            const DWORD error = tape->read(buffer.data(), 0x80001, got);
            return Read(error, got);
        };
        QCOMPARE(read(), Read(NO_ERROR, 100));
        QCOMPARE(read(), Read(ERROR_FILEMARK_DETECTED, 0));

        drive.log.clear();
        QCOMPARE(read(), Read(ERROR_MORE_DATA, 0x80001));
        QCOMPARE(drive.log,
            QStringList({ QStringLiteral("read 524289"), QStringLiteral("op %1 1").arg(MTBSR),
                QStringLiteral("read %1").arg(StTape::kLargestRecord) }));
        QCOMPARE(drive.position, 3);
        QCOMPARE(static_cast<unsigned char>(buffer.at(0x80000)),
            static_cast<unsigned char>(3 * 31 + 0x80000));

        QCOMPARE(read(), Read(NO_ERROR, 50));
        QCOMPARE(read().first, ERROR_CRC);
        QCOMPARE(read(), Read(ERROR_NO_DATA_DETECTED, 0));

        // In fixed-block mode one block is asked for, not the largest record.
        drive.tape << FakeDrive::Object { FakeDrive::Record, 65536 };
        QCOMPARE(tape->setBlockSize(65536), NO_ERROR);
        QCOMPARE(read(), Read(NO_ERROR, 65536));
        QCOMPARE(drive.log.last(), QStringLiteral("read 65536"));
    }

    void operationsMapToMtio()
    {
        FakeDrive drive;
        drive.tape = { { FakeDrive::Record, 1 }, { FakeDrive::Mark, 0 } };
        auto tape = openFake(drive);
        std::uint64_t where = 99;
        QCOMPARE(tape->prepare(false), NO_ERROR);
        QCOMPARE(tape->setBlockSize(0), NO_ERROR);
        QCOMPARE(tape->spaceToEndOfData(), NO_ERROR);
        QCOMPARE(tape->position(where), NO_ERROR);
        QCOMPARE(where, std::uint64_t(2));
        QCOMPARE(tape->seekBlock(0), NO_ERROR);
        QCOMPARE(tape->eject(), NO_ERROR);
        QCOMPARE(drive.log,
            QStringList({ QStringLiteral("op %1 1").arg(MTLOAD),
                QStringLiteral("op %1 0").arg(MTSETBLK), QStringLiteral("op %1 1").arg(MTEOM),
                QStringLiteral("op %1 1").arg(MTREW), QStringLiteral("op %1 1").arg(MTOFFL) }));
    }

    void mediaInfoFallsBackToTheGenericNode()
    {
        FakeDrive drive;
        drive.genericAnswer = capacityAnswer(1000, 1500000);
        auto tape = openFake(drive);
        TapeMediaInfo info;
        QCOMPARE(tape->mediaInfo(info), NO_ERROR);
        QCOMPARE(info.capacity, qint64(1500000) * 1048576);
        QCOMPARE(info.remaining, qint64(1000) * 1048576);
        // LOG SENSE page 0x31, current cumulative values, 256 bytes: first on
        // the st node, refused there, then on the generic node.
        QCOMPARE(drive.log.first(), QStringLiteral("sg 3 4d007100000000010000"));
        QVERIFY(drive.log.contains(QStringLiteral("sg 4 4d007100000000010000")));
        QVERIFY(drive.log.contains(QStringLiteral("open /dev/sg7")));
        QVERIFY(drive.log.contains(QStringLiteral("close 4")));

        // A failed query leaves the values alone: no generic node, then the wrong page.
        drive.genericNode.clear();
        info.capacity = 77;
        QVERIFY(tape->mediaInfo(info) != NO_ERROR);
        drive.stAnswer = QByteArray::fromHex("3000000400010000");
        QVERIFY(tape->mediaInfo(info) != NO_ERROR);
        QCOMPARE(info.capacity, qint64(77));
    }
};

QTEST_GUILESS_MAIN(TestStTape)
#include "tst_st_tape.moc"
