// A medium changer's answers decoded: element status pages as changers lay them
// out (with and without barcodes, with drive identifiers, several element types in
// one answer), and the element address assignment page.
#include "platform/st/scsi_changer.h"

#include <QtTest>

using namespace ScsiChanger;

namespace {

// One element descriptor: address, flags byte, medium byte (source valid, type),
// source, then the tags and identifier the page says it carries.
QByteArray descriptor(int address, int flags, int medium, int source, const QByteArray &tags = {},
    const QByteArray &identifier = {}, int asc = 0)
{
    QByteArray d(12, '\0');
    d[0] = char(address >> 8);
    d[1] = char(address);
    d[2] = char(flags);
    d[4] = char(asc);
    d[9] = char(medium);
    d[10] = char(source >> 8);
    d[11] = char(source);
    return d + tags + identifier;
}

QByteArray tag(const QByteArray &barcode)
{
    return barcode.leftJustified(32, ' ') + QByteArray(4, '\0');
}

// The vendor-ID identifier a drive reports: ASCII, type 1, vendor, product, serial.
QByteArray vendorId(const QByteArray &serial)
{
    const QByteArray id = QByteArray("TWDRIVE ")
                              .append(QByteArray("LTO-3").leftJustified(16, ' '))
                              .append(serial.leftJustified(10, ' '));
    return QByteArray("\x02\x01\x00", 3) + char(id.size()) + id;
}

QByteArray page(int type, int tagFlags, const QList<QByteArray> &descriptors)
{
    const int size = descriptors.isEmpty() ? 12 : descriptors.first().size();
    QByteArray body;
    for (const QByteArray &d : descriptors)
        body += d;
    QByteArray h(8, '\0');
    h[0] = char(type);
    h[1] = char(tagFlags);
    h[2] = char(size >> 8);
    h[3] = char(size);
    h[5] = char(body.size() >> 16);
    h[6] = char(body.size() >> 8);
    h[7] = char(body.size());
    return h + body;
}

QByteArray answer(const QList<QByteArray> &pages, int extraClaimed = 0)
{
    QByteArray body;
    for (const QByteArray &p : pages)
        body += p;
    const int claimed = body.size() + extraClaimed;
    QByteArray h(8, '\0');
    h[5] = char(claimed >> 16);
    h[6] = char(claimed >> 8);
    h[7] = char(claimed);
    return h + body;
}

QString describe(const Element &e)
{
    static const char *const kinds = "?TSED";
    QString out = QStringLiteral("%1%2 %3")
                      .arg(QLatin1Char(kinds[int(e.type)]))
                      .arg(e.address)
                      .arg(e.full ? QStringLiteral("full") : QStringLiteral("empty"));
    if (!e.barcode.empty())
        out += QStringLiteral(" ") + QString::fromStdString(e.barcode);
    if (e.sourceValid)
        out += QStringLiteral(" from %1").arg(e.source);
    if (e.exception)
        out += QStringLiteral(" except %1/%2").arg(e.asc, 2, 16, QLatin1Char('0')).arg(e.ascq);
    if (isCleaning(e))
        out += QStringLiteral(" cleaning");
    if (!e.serial.empty())
        out += QStringLiteral(" serial ") + QString::fromStdString(e.serial);
    return out;
}

} // namespace

class TestScsiChanger : public QObject
{
    Q_OBJECT

private slots:
    void elementStatus_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArrayList>("elements");
        const int tags = 0x80;
        QTest::newRow("slots without volume tags")
            << answer({ page(
                   2, 0, { descriptor(1024, 0x09, 0x01, 0), descriptor(1025, 0x08, 0, 0) }) })
            << true << QByteArrayList { "S1024 full", "S1025 empty" };
        QTest::newRow("slots with barcodes, blank tag on an empty slot")
            << answer({ page(2, tags,
                   { descriptor(1024, 0x09, 0x01, 0, tag("TW0001L3")),
                       descriptor(1025, 0x08, 0x00, 0, tag("")) }) })
            << true << QByteArrayList { "S1024 full TW0001L3", "S1025 empty" };
        QTest::newRow("drive loaded from a slot, identifier after the tag")
            << answer({ page(4, tags,
                   { descriptor(1, 0x09, 0x81, 1026, tag("TW0003"), vendorId("TW-d0")),
                       descriptor(2, 0x08, 0x00, 0, tag(""), vendorId("TW-d1")) }) })
            << true
            << QByteArrayList { "D1 full TW0003 from 1026 serial TW-d0", "D2 empty serial TW-d1" };
        QTest::newRow("source bytes without the valid bit are no source")
            << answer({ page(4, 0, { descriptor(1, 0x09, 0x01, 1030) }) }) << true
            << QByteArrayList { "D1 full" };
        QTest::newRow("identifier after primary and alternate tags")
            << answer({ page(4, tags | 0x40,
                   { descriptor(1, 0x08, 0, 0, tag("") + tag("ALT"), vendorId("SER42")) }) })
            << true << QByteArrayList { "D1 empty serial SER42" };
        QTest::newRow("identifier that is the serial alone")
            << answer({ page(4, 0,
                   { descriptor(1, 0x08, 0, 0, {}, QByteArray("\x02\x00\x00\x06HU1234", 10)) }) })
            << true << QByteArrayList { "D1 empty serial HU1234" };
        QTest::newRow("every element type in one answer")
            << answer({ page(1, tags, { descriptor(0, 0x00, 0, 0, tag("")) }),
                   page(2, tags,
                       { descriptor(1024, 0x09, 0x02, 0, tag("CLN001L1")),
                           descriptor(1025, 0x0D, 0x01, 0, tag("TW0002"), {}, 0x3A) }),
                   page(3, tags, { descriptor(16, 0x3B, 0x01, 0, tag("MAIL01")) }),
                   page(4, tags, { descriptor(1, 0x08, 0x00, 0, tag("")) }) })
            << true
            << QByteArrayList { "T0 empty", "S1024 full CLN001L1 cleaning",
                   "S1025 full TW0002 except 3a/0", "E16 full MAIL01", "D1 empty" };
        QTest::newRow("cleaning said by the medium type, not the barcode")
            << answer({ page(2, tags, { descriptor(1024, 0x09, 0x02, 0, tag("TW0099")) }) }) << true
            << QByteArrayList { "S1024 full TW0099 cleaning" };
        QTest::newRow("page count past the header's total")
            << answer({ page(2, 0, { descriptor(1024, 0x09, 0, 0) }) }, -4) << false
            << QByteArrayList();
        QTest::newRow("descriptor too short for its flags")
            << answer({ page(2, 0, { QByteArray(8, '\0') }) }) << false << QByteArrayList();
        QTest::newRow("unknown element type")
            << answer({ page(7, 0, { descriptor(1, 0, 0, 0) }) }) << false << QByteArrayList();
        QTest::newRow("answer cut short of its header's total")
            << answer({ page(2, 0x80, { descriptor(1024, 0x09, 1, 0, tag("A")) }) }).left(40)
            << false << QByteArrayList();
        QTest::newRow("header shorter than eight bytes")
            << QByteArray(5, '\0') << false << QByteArrayList();
    }

    void elementStatus()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, valid);
        QFETCH(QByteArrayList, elements);
        std::vector<Element> decoded;
        QCOMPARE(parseElementStatus(reinterpret_cast<const unsigned char *>(data.constData()),
                     std::size_t(data.size()), decoded),
            valid);
        if (!valid)
            return;
        QByteArrayList got;
        for (const Element &e : decoded)
            got << describe(e).toUtf8();
        QCOMPARE(got, elements);
    }

    void addressAssignment_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("counts");
        const QByteArray page = QByteArray::fromHex("9d12"
                                                    "0000"
                                                    "0001"
                                                    "0400"
                                                    "0014"
                                                    "0010"
                                                    "0001"
                                                    "0001"
                                                    "0002"
                                                    "0000");
        QTest::newRow("without block descriptors") << QByteArray::fromHex("17000000") + page << true
                                                   << QStringLiteral("T0x1 S1024x20 E16x1 D1x2");
        QTest::newRow("past a block descriptor")
            << QByteArray::fromHex("1f000008") + QByteArray(8, '\x55') + page << true
            << QStringLiteral("T0x1 S1024x20 E16x1 D1x2");
        QTest::newRow("another page")
            << QByteArray::fromHex("17000000") + QByteArray::fromHex("1e12") + page.mid(2) << false
            << QString();
        QTest::newRow("cut short")
            << QByteArray::fromHex("17000000") + page.left(12) << false << QString();
    }

    void addressAssignment()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, valid);
        QFETCH(QString, counts);
        AddressAssignment a;
        QCOMPARE(parseAddressAssignment(reinterpret_cast<const unsigned char *>(data.constData()),
                     std::size_t(data.size()), a),
            valid);
        if (valid)
            QCOMPARE(QStringLiteral("T%1x%2 S%3x%4 E%5x%6 D%7x%8")
                         .arg(a.firstTransport)
                         .arg(a.transports)
                         .arg(a.firstStorage)
                         .arg(a.storages)
                         .arg(a.firstImportExport)
                         .arg(a.importExports)
                         .arg(a.firstDataTransfer)
                         .arg(a.dataTransfers),
                counts);
    }
};

QTEST_GUILESS_MAIN(TestScsiChanger)
#include "tst_scsi_changer.moc"
