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
    QTest::addColumn<int>("resid");
    QTest::addColumn<QByteArray>("sense");
    QTest::addColumn<bool>("infoOk");
    QTest::addColumn<int>("transferred"); // of 64 bytes asked for

    const QByteArray medium = QByteArray::fromHex("f00003000000000a0000000011000000000000");
    // clang-format off
    QTest::newRow("shorter answer") << 0 << 0 << 40 << QByteArray() << true << 24;
    // A residue past the buffer once made an answer larger than the buffer.
    QTest::newRow("residue past the buffer") << 0 << 0 << 100 << QByteArray() << true << 0;
    QTest::newRow("check condition") << 0 << 2 << 64 << medium << false << 0;
    QTest::newRow("refused") << EPERM << 0 << 0 << QByteArray() << false << 0;
    // clang-format on
}

void TestScsiChannel::outcome()
{
    QFETCH(int, error);
    QFETCH(int, status);
    QFETCH(int, resid);
    QFETCH(QByteArray, sense);
    const ScsiChannel::Ioctl answer = [&](int, unsigned long request, void *argument) {
        if (request != SG_IO || error != 0) {
            errno = error != 0 ? error : EINVAL;
            return -1;
        }
        auto &io = *static_cast<sg_io_hdr_t *>(argument);
        io.status = static_cast<unsigned char>(status);
        io.resid = resid;
        std::memcpy(io.sbp, sense.constData(), std::size_t(sense.size()));
        io.sb_len_wr = static_cast<unsigned char>(sense.size());
        io.info = status != 0 ? SG_INFO_CHECK : SG_INFO_OK;
        return 0;
    };
    const unsigned char inquiry[6] = { 0x12, 0, 0, 0, 64, 0 };
    unsigned char data[64] = {};
    const ScsiChannel::Outcome outcome = ScsiChannel::send(answer, 3, inquiry, sizeof inquiry,
        ScsiChannel::Direction::FromDevice, data, sizeof data, 1000);
    QCOMPARE(outcome.error, error);
    QTEST(outcome.infoOk, "infoOk");
    QTEST(int(outcome.transferred), "transferred");
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(outcome.sense.data()), int(outcome.sense.size())),
        sense);
    QCOMPARE(outcome.asc, std::uint8_t(sense.isEmpty() ? 0 : 0x11)); // decoded for the changer
}

QTEST_GUILESS_MAIN(TestScsiChannel)
#include "tst_scsi_channel.moc"
