// The one SG_IO request every SCSI command of the program goes through: what the sg
// driver answers, turned into the outcome its callers read.
#include "platform/st/scsi_channel.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <scsi/sg.h>

class TestScsiChannel : public QObject
{
    Q_OBJECT

private slots:
    void outcome_data();
    void outcome();
};

void TestScsiChannel::outcome_data()
{
    QTest::addColumn<int>("error"); // errno of a refused ioctl, else 0
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("hostStatus");
    QTest::addColumn<int>("driverStatus");
    QTest::addColumn<int>("resid");
    QTest::addColumn<QByteArray>("sense");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("infoOk");
    QTest::addColumn<int>("transferred"); // of 64 bytes asked for
    QTest::addColumn<QString>("senseCodes"); // key/asc/ascq

    const QByteArray medium = QByteArray::fromHex("f00003000000000a0000000011000000000000");
    // clang-format off
    QTest::newRow("whole answer") << 0 << 0 << 0 << 0 << 0 << QByteArray() << true << true << 64 << "0/0/0";
    QTest::newRow("shorter answer") << 0 << 0 << 0 << 0 << 40 << QByteArray() << true << true << 24 << "0/0/0";
    // A residue past the buffer (a driver's slip) never makes the answer larger than asked.
    QTest::newRow("residue past the buffer") << 0 << 0 << 0 << 0 << 100 << QByteArray() << true << true << 0 << "0/0/0";
    QTest::newRow("check condition") << 0 << 2 << 0 << 0x08 << 64 << medium << false << false << 0 << "3/17/0";
    QTest::newRow("adapter gave up") << 0 << 0 << 3 << 0 << 64 << QByteArray() << false << false << 0 << "0/0/0";
    QTest::newRow("driver timeout") << 0 << 0 << 0 << 0x06 << 64 << QByteArray() << false << false << 0 << "0/0/0";
    QTest::newRow("refused") << EPERM << 0 << 0 << 0 << 0 << QByteArray() << false << false << 0 << "0/0/0";
    // clang-format on
}

void TestScsiChannel::outcome()
{
    QFETCH(int, error);
    QFETCH(int, status);
    QFETCH(int, hostStatus);
    QFETCH(int, driverStatus);
    QFETCH(int, resid);
    QFETCH(QByteArray, sense);
    int calls = 0;
    const ScsiChannel::Ioctl answer = [&](int, unsigned long request, void *argument) {
        ++calls;
        if (request != SG_IO || error != 0) {
            errno = error != 0 ? error : EINVAL;
            return -1;
        }
        auto &io = *static_cast<sg_io_hdr_t *>(argument);
        io.status = static_cast<unsigned char>(status);
        io.masked_status = static_cast<unsigned char>(status >> 1);
        io.host_status = static_cast<unsigned short>(hostStatus);
        io.driver_status = static_cast<unsigned short>(driverStatus);
        io.resid = resid;
        const int written = qMin(sense.size(), int(io.mx_sb_len));
        std::memcpy(io.sbp, sense.constData(), std::size_t(written));
        io.sb_len_wr = static_cast<unsigned char>(written);
        io.info = status != 0 || hostStatus != 0 || driverStatus != 0 ? SG_INFO_CHECK : SG_INFO_OK;
        return 0;
    };
    const unsigned char inquiry[6] = { 0x12, 0, 0, 0, 64, 0 };
    unsigned char data[64] = {};
    const ScsiChannel::Outcome outcome = ScsiChannel::send(answer, 3, inquiry, sizeof inquiry,
        ScsiChannel::Direction::FromDevice, data, sizeof data, 1000);
    QCOMPARE(calls, 1);
    QCOMPARE(outcome.error, error);
    QTEST(outcome.ok(), "ok");
    QTEST(outcome.infoOk, "infoOk");
    QTEST(int(outcome.transferred), "transferred");
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(outcome.sense.data()), int(outcome.sense.size())),
        sense);
    QTEST(QStringLiteral("%1/%2/%3").arg(outcome.senseKey).arg(outcome.asc).arg(outcome.ascq),
        "senseCodes");
}

QTEST_GUILESS_MAIN(TestScsiChannel)
#include "tst_scsi_channel.moc"
