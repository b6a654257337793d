// The drive's answers about a failed read, itself and its cartridge, decoded
// from byte layouts a drive sends.
#include "platform/st/scsi_pages.h"
#include "platform/st/scsi_sense.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

Q_DECLARE_METATYPE(SenseAction)

class TestScsiPages : public QObject
{
    Q_OBJECT

private slots:
    void sense_data();
    void sense();
    void tapeAlert_data();
    void tapeAlert();
    void errorCounters();
    void modeSense_data();
    void modeSense();
    void attributes_data();
    void attributes();
    void limitsAndPosition();
};

void TestScsiPages::sense_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("code");
    QTest::addColumn<qint64>("information"); // -1: not valid
    QTest::addColumn<QString>("bits"); // F filemark, E end of medium, I incorrect length
    QTest::addColumn<SenseAction>("action");

    // Fixed format: VALID, key 3, information 7 (the block), ASC/ASCQ 11/00.
    QTest::newRow("fixed medium error")
        << hex("f0 00 03 00 00 00 07 0a 00000000 11 00 00 000000") << 3 << "unrecovered read error"
        << qint64(7) << "" << SenseAction::MediumError;
    // A foreign format is a medium error by its key; the code says what to do.
    QTest::newRow("fixed incompatible format")
        << hex("70 00 03 00 00 00 00 0a 00000000 30 02 00 000000") << 3
        << "cannot read medium - incompatible format" << qint64(-1) << ""
        << SenseAction::WrongFormat;
    QTest::newRow("fixed unknown format")
        << hex("70 00 02 00 00 00 00 0a 00000000 30 01 00 000000") << 2
        << "cannot read medium - unknown format" << qint64(-1) << "" << SenseAction::WrongFormat;
    QTest::newRow("fixed bus reset")
        << hex("70 00 06 00 00 00 00 0a 00000000 29 02 00 000000") << 6 << "scsi bus reset occurred"
        << qint64(-1) << "" << SenseAction::PositionLost;
    QTest::newRow("fixed cleaning requested")
        << hex("70 00 01 00 00 00 00 0a 00000000 00 17 00 000000") << 1 << "cleaning requested"
        << qint64(-1) << "" << SenseAction::CleaningRequested;
    QTest::newRow("fixed filemark")
        << hex("f0 00 80 00 00 00 01 0a 00000000 00 01 00 000000") << 0 << "filemark detected"
        << qint64(1) << "F" << SenseAction::Filemark;
    // A read of 1000 bytes met a record of 1024: the residue is negative.
    QTest::newRow("fixed ILI negative residue")
        << hex("f0 00 20 ff ff ff e8 0a 00000000 00 00 00 000000") << 0
        << "no additional sense information" << qint64(-24) << "I" << SenseAction::None;
    QTest::newRow("fixed blank check")
        << hex("f0 00 48 00 00 00 00 0a 00000000 00 05 00 000000") << 8 << "end-of-data detected"
        << qint64(0) << "E" << SenseAction::EndOfData;
    QTest::newRow("fixed hardware error")
        << hex("70 00 04 00 00 00 00 0a 00000000 44 00 00 000000") << 4 << "internal target failure"
        << qint64(-1) << "" << SenseAction::HardwareError;
    QTest::newRow("fixed no medium")
        << hex("70 00 02 00 00 00 00 0a 00000000 3a 00 00 000000") << 2 << "medium not present"
        << qint64(-1) << "" << SenseAction::NotReady;
    QTest::newRow("fixed unknown code")
        << hex("70 00 03 00 00 00 00 0a 00000000 9a 42 00 000000") << 3 << "ASC 0x9A, ASCQ 0x42"
        << qint64(-1) << "" << SenseAction::MediumError;
    // The additional length says the data ends after byte 7: what follows is not sense.
    QTest::newRow("fixed short additional length")
        << hex("70 00 03 00 00 00 00 00 00000000 11 00 00 000000") << 3
        << "no additional sense information" << qint64(-1) << "" << SenseAction::MediumError;
    QTest::newRow("fixed cut at 8 bytes")
        << hex("f0 00 03 00 00 00 09 0a") << 3 << "no additional sense information" << qint64(9)
        << "" << SenseAction::MediumError;
    // Descriptor format: information descriptor (type 0) and stream commands (type 4).
    QTest::newRow("descriptor medium error")
        << hex("72 03 11 00 00 00 00 12 00 0a 80 00 0000000000000105 04 02 00 20") << 3
        << "unrecovered read error" << qint64(0x105) << "I" << SenseAction::MediumError;
    QTest::newRow("descriptor filemark")
        << hex("72 00 00 01 00 00 00 06 04 02 00 c0 00 00") << 0 << "filemark detected"
        << qint64(-1) << "FE" << SenseAction::Filemark;
    // A descriptor that runs past the data is not read.
    QTest::newRow("descriptor cut")
        << hex("72 03 11 00 00 00 00 06 00 0a 80 00 00 00") << 3 << "unrecovered read error"
        << qint64(-1) << "" << SenseAction::MediumError;
}

void TestScsiPages::sense()
{
    QFETCH(QByteArray, data);
    QFETCH(int, key);
    QFETCH(QString, code);
    QFETCH(qint64, information);
    QFETCH(QString, bits);
    QFETCH(SenseAction, action);
    const SenseFacts sense = ScsiSense::decode(bytes(data), std::size_t(data.size()));
    QVERIFY(sense.present);
    QCOMPARE(int(sense.key), key);
    QCOMPARE(QString::fromStdString(sense.ascName), code);
    QCOMPARE(sense.informationValid ? sense.information : qint64(-1), information);
    QString set;
    set += sense.filemark ? QLatin1String("F") : QLatin1String("");
    set += sense.endOfMedium ? QLatin1String("E") : QLatin1String("");
    set += sense.incorrectLength ? QLatin1String("I") : QLatin1String("");
    QCOMPARE(set, bits);
    QCOMPARE(sense.action, action);
    QVERIFY(ScsiSense::decode(bytes(hex("00 00 03")), 3).present == false);
}

void TestScsiPages::tapeAlert_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("names");
    QTest::addColumn<bool>("cleaning");
    QTest::addColumn<bool>("atRisk");

    QTest::newRow("clean now") << hex("2e 00 00 0f  0003 03 01 00  0014 03 01 01  0015 03 01 00")
                               << true << "clean now" << true << false;
    QTest::newRow("media and read failure") << hex("2e 00 00 0a  0004 03 01 01  0005 03 01 01")
                                            << true << "media, read failure" << false << true;
    QTest::newRow("snapped tape") << hex("2e 00 00 05  000e 03 01 01") << true
                                  << "unrecoverable mechanical cartridge failure (snapped tape)"
                                  << false << true;
    // The page length ends before flag 20: its bytes are not the drive's answer.
    QTest::newRow("page length") << hex("2e 00 00 05  0003 03 01 01  0014 03 01 01") << true
                                 << "hard error" << false << false;
    QTest::newRow("nothing set") << hex("2e 00 00 05  0001 03 01 00") << true << "" << false
                                 << false;
    QTest::newRow("other page") << hex("31 00 00 05  0014 03 01 01") << false << "" << false
                                << false;
}

void TestScsiPages::tapeAlert()
{
    QFETCH(QByteArray, page);
    QFETCH(bool, parsed);
    QFETCH(QString, names);
    QFETCH(bool, cleaning);
    QFETCH(bool, atRisk);
    TapeAlertFacts alerts;
    QCOMPARE(ScsiPages::parseTapeAlert(bytes(page), std::size_t(page.size()), alerts), parsed);
    QStringList set;
    for (const std::string &name : alerts.names)
        set << QString::fromStdString(name);
    QCOMPARE(set.join(QStringLiteral(", ")), names);
    QCOMPARE(alerts.cleanNow, cleaning);
    QCOMPARE(alerts.tapeAtRisk, atRisk);
}

void TestScsiPages::errorCounters()
{
    // Counters of 2, 4 and 8 bytes; parameter 4 (algorithm runs) is not kept, 6 is cut off.
    const QByteArray page = hex("03 00 00 24  0000 00 02 0005  0002 00 04 00010000"
                                "  0004 00 02 ffff  0005 00 08 0000000100000000"
                                "  0006 00 04 0000");
    ErrorCounterFacts counters;
    QVERIFY(ScsiPages::parseErrorCounters(bytes(page), std::size_t(page.size()), counters));
    QCOMPARE(counters.correctedFast, qint64(5));
    QCOMPARE(counters.rereads, qint64(0x10000));
    QCOMPARE(counters.bytesProcessed, qint64(1) << 32);
    QCOMPARE(counters.corrected, qint64(-1));
    QCOMPARE(counters.uncorrected, qint64(-1));
    QVERIFY(!ScsiPages::parseErrorCounters(bytes(page), 3, counters));
}

void TestScsiPages::modeSense_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("density");
    QTest::addColumn<uint>("blockLength");
    QTest::addColumn<bool>("writeProtected");
    QTest::addColumn<int>("compression");

    QTest::newRow("LTO-4 variable, compressing")
        << hex("1b 00 10 08  46 000000 00 000000  0f 0e c0 80 00000001 00000001 00000000") << true
        << "LTO-4" << 0u << false << 1;
    QTest::newRow("DDS-2 fixed 512, protected, not compressing")
        << hex("1b 00 90 08  24 000000 00 000200  0f 0e 40 80 00000000 00000000 00000000") << true
        << "DDS-2" << 512u << true << 0;
    QTest::newRow("unknown density, no page")
        << hex("0b 00 00 08  7f 000000 00 002800") << true << "" << 10240u << false << -1;
    QTest::newRow("no block descriptor")
        << hex("13 00 00 00  0f 0e c0 80") << false << "" << 0u << false << -1;
    // The mode data length stops before the compression page.
    QTest::newRow("page past the data") << hex("0b 00 00 08  40 000000 00 000000  0f 0e c0 80")
                                        << true << "LTO-1" << 0u << false << -1;
}

void TestScsiPages::modeSense()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, parsed);
    QFETCH(QString, density);
    QFETCH(uint, blockLength);
    QFETCH(bool, writeProtected);
    QFETCH(int, compression);
    DriveFacts facts;
    QCOMPARE(ScsiPages::parseModeSense(bytes(answer), std::size_t(answer.size()), facts), parsed);
    QCOMPARE(QString::fromStdString(facts.densityName), density);
    QCOMPARE(facts.blockLength, blockLength);
    QCOMPARE(facts.writeProtected, writeProtected);
    QCOMPARE(facts.compression, compression);
}

void TestScsiPages::attributes_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("date");
    QTest::addColumn<qint64>("loads");

    QTest::newRow("LTO cartridge memory") << hex("00000049  0003 00 0008 000000000000002a"
                                                 "  0400 01 0008 4143 4d45 2020 2020"
                                                 "  0401 01 000c 3132 3334 3536 3738 2020 2020"
                                                 "  0406 01 0008 3230 3139 3036 3031"
                                                 "  0806 01 000c 4142 4331 3233 4c36 2020 2020")
                                          << "ABC123L6"
                                          << "12345678"
                                          << "ACME"
                                          << "20190601" << qint64(42);
    // An attribute that runs past the answer is not read, nor anything after it.
    QTest::newRow("cut attribute")
        << hex("00000015  0003 00 0002 0007  0806 01 000c 4142 4331") << ""
        << ""
        << ""
        << "" << qint64(7);
    QTest::newRow("empty list") << hex("00000000") << ""
                                << ""
                                << ""
                                << "" << qint64(-1);
}

void TestScsiPages::attributes()
{
    QFETCH(QByteArray, answer);
    CartridgeFacts cartridge;
    QVERIFY(ScsiPages::parseAttributes(bytes(answer), std::size_t(answer.size()), cartridge));
    QTEST(QString::fromStdString(cartridge.barcode), "barcode");
    QTEST(QString::fromStdString(cartridge.mediumSerial), "serial");
    QTEST(QString::fromStdString(cartridge.manufacturer), "maker");
    QTEST(QString::fromStdString(cartridge.manufactureDate), "date");
    QTEST(qint64(cartridge.loadCount), "loads");
}

void TestScsiPages::limitsAndPosition()
{
    std::uint32_t maxBlock = 0, minBlock = 0;
    const QByteArray limits = hex("00 ff ff ff 00 01");
    QVERIFY(ScsiPages::parseBlockLimits(bytes(limits), 6, maxBlock, minBlock));
    QCOMPARE(maxBlock, 0xFFFFFFu);
    QCOMPARE(minBlock, 1u);
    QVERIFY(!ScsiPages::parseBlockLimits(bytes(limits), 5, maxBlock, minBlock));

    std::int64_t block = 0;
    const QByteArray known = hex("00 00 00 00 00 01 02 03 00 01 02 03 00 00 00 00 00 00 00 00");
    QVERIFY(ScsiPages::parseReadPosition(bytes(known), 20, block));
    QCOMPARE(block, std::int64_t(0x10203));
    // BPU set: the drive does not know where it is, and no number may be taken as the position.
    const QByteArray lost = hex("04 00 00 00 00 01 02 03 00 01 02 03 00 00 00 00 00 00 00 00");
    QVERIFY(!ScsiPages::parseReadPosition(bytes(lost), 20, block));
}

QTEST_APPLESS_MAIN(TestScsiPages)
#include "tst_scsi_pages.moc"
