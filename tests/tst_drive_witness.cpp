// A master run with the drive's own word after each failed read: what stops
// retrying, what stops the run, and what reaches the messages and the record.
#include "archive/drive_witness.h"
#include "archive/notices.h"
#include "platform/backend/tape_backend.h"
#include "platform/st/scsi_pages.h"
#include "platform/st/scsi_sense.h"
#include "scripted_rescue.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

namespace {

QStringList said;

void keep(const QString &message)
{
    said << message;
}

/// "R100" a record, "M" a mark, "B50" a block of 50 bytes that never reads. The drive
/// passes a block it failed to read, answers its sense with @c sense and raises the
/// TapeAlert flags @c alertsAfter after each failure (@c alertsBefore before the run).
class TellingDrive : public TapeBackend
{
public:
    QStringList objects;
    std::size_t at = 0;
    QStringList reads;
    QByteArray sense;
    std::uint64_t alertsBefore = 0;
    std::uint64_t alertsAfter = 0;
    std::uint64_t pending = 0;

    DWORD prepare(bool) override { return NO_ERROR; }
    DWORD status() override { return NO_ERROR; }
    DWORD mediaInfo(TapeMediaInfo &) override { return ERROR_NOT_SUPPORTED; }
    DWORD setBlockSize(std::uint32_t) override { return NO_ERROR; }
    DWORD spaceToEndOfData() override { return NO_ERROR; }
    DWORD seekBlock(std::uint64_t block) override
    {
        at = std::size_t(block);
        return NO_ERROR;
    }
    DWORD position(std::uint64_t &block) override
    {
        block = at;
        return NO_ERROR;
    }
    DWORD spaceRecords(std::int64_t count) override
    {
        at = std::size_t(std::int64_t(at) + count);
        return NO_ERROR;
    }
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override
    {
        bytesRead = 0;
        reads << QString::number(at);
        if (at >= std::size_t(objects.size()))
            return ERROR_NO_DATA_DETECTED;
        const QString object = objects.at(int(at++));
        if (object == QLatin1String("M"))
            return ERROR_FILEMARK_DETECTED;
        bytesRead = std::min(object.mid(1).toUInt(), length);
        std::memset(buffer, 'x', bytesRead);
        if (object.startsWith(QLatin1Char('B'))) {
            pending |= alertsAfter;
            return ERROR_CRC;
        }
        return NO_ERROR;
    }
    DWORD eject() override { return NO_ERROR; }
    DWORD identify(TapeIdentity &) override { return NO_ERROR; }

    DWORD driveFacts(DriveFacts &facts) override
    {
        facts.cartridge.known = true;
        facts.cartridge.barcode = "ABC123L6";
        facts.adapterMaxKb = 64;
        alerts(alertsBefore, facts.alerts);
        return NO_ERROR;
    }
    DWORD driveAlerts(TapeAlertFacts &facts, ErrorCounterFacts &) override
    {
        alerts(pending, facts);
        pending = 0; // reading the page clears it
        return NO_ERROR;
    }
    DWORD readFailure(std::uint64_t block, ReadFailureFacts &failure) override
    {
        failure.known = true;
        failure.positionBefore = std::int64_t(at);
        failure.positionAfter = std::int64_t(block + 1);
        failure.readLength = 256 * 1024;
        failure.sense = ScsiSense::decode(
            reinterpret_cast<const unsigned char *>(sense.constData()), std::size_t(sense.size()));
        return NO_ERROR;
    }

private:
    /// A TapeAlert page with @p flags set, through the page's own parser.
    static void alerts(std::uint64_t flags, TapeAlertFacts &facts)
    {
        QByteArray page("\x2e\x00\x00\x00", 4);
        for (int flag = 1; flag <= 64; ++flag)
            page += QByteArray("\x00", 1) + char(flag) + QByteArray("\x03\x01", 2)
                + char((flags >> (flag - 1)) & 1);
        page[3] = char(page.size() - 4);
        page[2] = char((page.size() - 4) >> 8);
        ScsiPages::parseTapeAlert(reinterpret_cast<const unsigned char *>(page.constData()),
            std::size_t(page.size()), facts);
    }
};

QByteArray fixedSense(int key, int asc, int ascq)
{
    QByteArray sense(18, '\0');
    sense[0] = char(0xF0);
    sense[2] = char(key);
    sense[6] = 2; // information: the block
    sense[7] = 10;
    sense[12] = char(asc);
    sense[13] = char(ascq);
    return sense;
}

quint64 flag(int number)
{
    return quint64(1) << (number - 1);
}

} // namespace

Q_DECLARE_METATYPE(Rescue::Stop)

class TestDriveWitness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Archive::setNoticeSink(&keep); }
    void afterFailedRead_data();
    void afterFailedRead();
    void masterName_data();
    void masterName();
};

void TestDriveWitness::afterFailedRead_data()
{
    QTest::addColumn<QByteArray>("sense");
    QTest::addColumn<quint64>("before");
    QTest::addColumn<quint64>("after");
    QTest::addColumn<bool>("keepRetrying");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("reads");
    QTest::addColumn<Rescue::Stop>("stop");
    QTest::addColumn<QString>("message"); ///< one line that must be among the messages
    QTest::addColumn<QString>("meaning"); ///< the record's word for the failure

    const QByteArray medium = fixedSense(3, 0x11, 0x00);
    // clang-format off
    QTest::newRow("medium error read again") << medium << quint64(0) << quint64(0) << false
        << "R B R |" << "0 1 1 1 2 3" << Rescue::Stop::Done
        << "drive: block 2: MEDIUM ERROR, unrecovered read error (11/00): the tape "
           "could not be read here: a damaged or worn medium (a dirty head looks the same; "
           "TapeAlert tells them apart)"
        << "medium-error";
    // A failing tape is not worn further by reading the block again.
    QTest::newRow("media flag stops retrying") << medium << quint64(0) << flag(4) << false
        << "R B R |" << "0 1 2 3" << Rescue::Stop::Done
        << "drive: the tape is at risk (TapeAlert: media): block 2 is not read again; "
           "--keep-retrying reads it again all the same"
        << "medium-error";
    // A snapped tape: stop at once, what was read kept.
    QTest::newRow("snapped tape stops the run") << medium << quint64(0) << flag(14) << false
        << "R B" << "0 1" << Rescue::Stop::DriveAsked
        << "drive: TapeAlert after block 2: unrecoverable mechanical cartridge failure (snapped "
           "tape)"
        << "medium-error";
    QTest::newRow("media flag, keep retrying") << medium << quint64(0) << flag(4) << true
        << "R B R |" << "0 1 1 1 2 3" << Rescue::Stop::Done
        << "drive: TapeAlert after block 2: media" << "medium-error";
    // Clean now: stop at once, what was read (the flagged block too) kept.
    QTest::newRow("clean now stops the run") << medium << quint64(0) << flag(20) << false
        << "R B" << "0 1" << Rescue::Stop::DriveAsked
        << "drive: TapeAlert after block 2: clean now" << "medium-error";
    QTest::newRow("foreign format stops the run") << fixedSense(3, 0x30, 0x02) << quint64(0)
        << quint64(0) << false << "R B" << "0 1" << Rescue::Stop::DriveAsked
        << "drive: block 2: MEDIUM ERROR, cannot read medium - incompatible format "
           "(30/02): this drive cannot read this cartridge's format; try a drive of its "
           "generation"
        << "wrong-format";
    QTest::newRow("reset: read again") << fixedSense(6, 0x29, 0x02) << quint64(0) << quint64(0)
        << false << "R B R |" << "0 1 1 1 2 3" << Rescue::Stop::Done
        << "drive: block 2: UNIT ATTENTION, scsi bus reset occurred (29/02): the "
           "drive was reset or the cartridge changed: the position is lost and must be read "
           "again before going on"
        << "position-lost";
    // Read again for its sense, a record of 300000 bytes tells its length by its residue.
    QByteArray longer = fixedSense(0, 0, 0);
    longer[2] = char(0x20); // ILI
    const qint32 residue = 262144 - 300000;
    for (int i = 0; i < 4; ++i)
        longer[3 + i] = char(quint32(residue) >> (24 - 8 * i));
    QTest::newRow("longer than the adapter") << longer << quint64(0) << quint64(0) << false
        << "R B R |" << "0 1 1 1 2 3" << Rescue::Stop::Done
        << "drive: block 2 is a record of 300000 bytes, longer than the 64 KiB this adapter "
           "transfers at once: read the tape through an adapter that takes records of that length"
        << "none";
    QTest::newRow("clean now before the run") << medium << flag(20) << quint64(0) << false
        << "" << "" << Rescue::Stop::DriveAsked << "drive: TapeAlert before the run: clean now" << "";
    // clang-format on
}

void TestDriveWitness::afterFailedRead()
{
    QFETCH(QByteArray, sense);
    QFETCH(bool, keepRetrying);
    auto *drive = new TellingDrive;
    drive->objects
        = QStringList { QStringLiteral("R1"), QStringLiteral("B50"), QStringLiteral("R2") };
    drive->sense = sense;
    QFETCH(quint64, before);
    QFETCH(quint64, after);
    drive->alertsBefore = before;
    drive->alertsAfter = after;
    const HANDLE handle = registerHandle(std::unique_ptr<HandleObject>(drive));
    said.clear();

    TapeLog log;
    DriveWitness witness(handle, keepRetrying);
    Rescue::Reader::Settings settings;
    settings.retries = 2;
    settings.passes = 1;
    settings.endOfData = 3;
    settings.afterFailure = [&witness](DWORD error, std::uint64_t position) {
        const DriveWitness::Advice advice = witness.afterFailedRead(error, position);
        return advice == DriveWitness::Advice::StopRun ? Rescue::AfterFailure::StopRun
            : advice == DriveWitness::Advice::PassOn   ? Rescue::AfterFailure::PassOn
                                                       : Rescue::AfterFailure::ReadAgain;
    };
    const bool stopFirst = witness.beforeRun() == DriveWitness::Advice::StopRun;
    std::unique_ptr<ScriptedRescue> rescue;
    if (!stopFirst)
        rescue = std::make_unique<ScriptedRescue>(handle, log, settings);
    const Rescue::Stop stop = rescue ? rescue->stop : Rescue::Stop::DriveAsked;
    witness.atEnd();

    QTEST(rescue ? rescue->kept() : QString(), "kept");
    QTEST(drive->reads.join(QLatin1Char(' ')), "reads");
    QTEST(stop, "stop");
    QFETCH(QString, message);
    QVERIFY2(said.contains(message), qPrintable(said.join(QLatin1Char('\n'))));
    QCOMPARE(stop == Rescue::Stop::DriveAsked, !witness.stopText().isEmpty());
    const QJsonObject json = witness.json();
    QCOMPARE(witness.barcode(), QStringLiteral("ABC123L6"));
    const QJsonArray failures = json.value(QStringLiteral("readFailures")).toArray();
    QTEST(failures.isEmpty()
            ? QString()
            : failures.at(0).toObject().value(QStringLiteral("meaning")).toString(),
        "meaning");
    if (!failures.isEmpty())
        QCOMPARE(failures.at(0).toObject().value(QStringLiteral("block")).toInt(), 2);
    QVERIFY(CloseHandle(handle));
}

void TestDriveWitness::masterName_data()
{
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<QString>("name");
    QTest::newRow("LTO label") << "ABC123L6"
                               << "ABC123L6_2026-12-06_10-15-00.tap";
    // A barcode is the cartridge's word, not ours: no folder or hidden file may come of it.
    QTest::newRow("slash and blank") << "../A B/C"
                                     << "_._A_B_C_2026-12-06_10-15-00.tap";
    QTest::newRow("not ASCII") << QStringLiteral("T\u00c4PE") << "T_PE_2026-12-06_10-15-00.tap";
}

void TestDriveWitness::masterName()
{
    QFETCH(QString, barcode);
    const QDateTime when(QDate(2026, 12, 6), QTime(10, 15));
    QTEST(DriveWitness::masterName(barcode, when), "name");
}

QTEST_GUILESS_MAIN(TestDriveWitness)
#include "tst_drive_witness.moc"
