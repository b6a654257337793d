// What a library batch images and what it passes over, from the inventory and
// the operator's choice, and the names of the masters.
#include "archive/library_plan.h"

#include <QtTest>

using namespace Library;
using ScsiChanger::Element;
using ScsiChanger::ElementType;

namespace {

// "D:TW0009<1025" a drive holding TW0009 from address 1025, "D:-" an empty drive,
// "D:!" a faulty empty drive, "S:TW0001" a slot, "S:*" a cartridge without
// barcode, "S:-" an empty slot, "E:..." an import/export slot.
Inventory inventoryOf(const QString &layout)
{
    Inventory inventory;
    const auto words = layout.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        Element e;
        const QString content = word.mid(2).section(QLatin1Char('<'), 0, 0);
        e.full = content != QLatin1String("-") && content != QLatin1String("!");
        e.exception = content == QLatin1String("!");
        if (e.full && content != QLatin1String("*"))
            e.barcode = content.toStdString();
        if (word.contains(QLatin1Char('<'))) {
            e.sourceValid = true;
            e.source = std::uint16_t(word.section(QLatin1Char('<'), 1).toUInt());
        }
        auto &list = word.startsWith(QLatin1Char('D')) ? inventory.drives
            : word.startsWith(QLatin1Char('S'))        ? inventory.storage
                                                       : inventory.importExports;
        const std::uint16_t base = word.startsWith(QLatin1Char('D')) ? 1
            : word.startsWith(QLatin1Char('S'))                      ? 1024
                                                                     : 16;
        e.type = word.startsWith(QLatin1Char('D')) ? ElementType::DataTransfer
            : word.startsWith(QLatin1Char('S'))    ? ElementType::Storage
                                                   : ElementType::ImportExport;
        e.address = std::uint16_t(base + list.size());
        list.push_back(e);
    }
    return inventory;
}

} // namespace

class TestLibraryPlan : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("slotText");
        QTest::addColumn<QString>("barcodes");
        QTest::addColumn<QString>("images");
        QTest::addColumn<QString>("drives");
        // "<slot>:<line>" each: the journal files them by slot (once all 0, so unfindable)
        QTest::addColumn<QString>("passedOver");
        const QString lib = QStringLiteral("D:- D:- S:TW0001 S:TW0002 S:- S:CLN001 S:* E:TW0100");
        QTest::newRow("every full storage slot, empty and cleaning ones said")
            << lib << QString() << QString()
            << QStringLiteral("1 TW0001.tap;2 TW0002.tap;5 slot-5.tap") << QStringLiteral("0 1")
            << QStringLiteral(
                   "3:slot 3 is empty;4:slot 4 holds the cleaning cartridge CLN001: not imaged");
        QTest::newRow("slots named, empty and missing ones said")
            << lib << QStringLiteral("2-3,6,9") << QString()
            << QStringLiteral("2 TW0002.tap;6 TW0100.tap") << QStringLiteral("0 1")
            << QStringLiteral("3:slot 3 is empty;9:there is no slot 9");
        QTest::newRow("barcodes named, one not in the library")
            << lib << QString() << QStringLiteral("TW0002,NOPE,TW0100")
            << QStringLiteral("2 TW0002.tap;6 TW0100.tap") << QStringLiteral("0 1")
            << QStringLiteral("0:barcode NOPE is in no slot");
        QTest::newRow("a loaded drive is left alone, a faulty one unused")
            << QStringLiteral("D:TW0009<1025 D:! D:- S:TW0001 S:-") << QString() << QString()
            << QStringLiteral("1 TW0001.tap") << QStringLiteral("2")
            << QStringLiteral("2:drive 0 holds TW0009 from slot 2: left alone;"
                              "0:drive 1 reports a fault (ASC 00h): not used;2:slot 2 is empty");
        QTest::newRow("a slot named twice is imaged once")
            << lib << QStringLiteral("1,1") << QStringLiteral("TW0001")
            << QStringLiteral("1 TW0001.tap") << QStringLiteral("0 1") << QString();
        QTest::newRow("two cartridges labelled alike get two files")
            << QStringLiteral("D:- S:TW0001 S:TW0001") << QString() << QString()
            << QStringLiteral("1 TW0001.tap;2 TW0001-slot-2.tap") << QStringLiteral("0")
            << QString();
        QTest::newRow("a barcode that is no file name")
            << QStringLiteral("D:- S:../x S:.hid") << QString() << QString()
            << QStringLiteral("1 _._x.tap;2 _hid.tap") << QStringLiteral("0") << QString();
    }

    void plan()
    {
        QFETCH(QString, library);
        QFETCH(QString, slotText);
        QFETCH(QString, barcodes);
        QFETCH(QString, images);
        QFETCH(QString, drives);
        QFETCH(QString, passedOver);
        Selection selection;
        QString problem;
        if (!slotText.isEmpty())
            QVERIFY(parseSlotList(slotText, selection.slotNumbers, problem));
        if (!barcodes.isEmpty())
            selection.barcodes = barcodes.split(QLatin1Char(','));
        const BatchPlan plan = planBatch(inventoryOf(library), selection);
        QStringList got, free;
        for (const PlannedCartridge &c : plan.cartridges)
            got << QStringLiteral("%1 %2").arg(c.slot).arg(c.imageName);
        for (const int d : plan.freeDrives)
            free << QString::number(d);
        QCOMPARE(got.join(QLatin1Char(';')), images);
        QCOMPARE(free.join(QLatin1Char(' ')), drives);
        QStringList said;
        for (const PassedOver &line : plan.passedOver)
            said << QStringLiteral("%1:%2").arg(line.slot).arg(line.text);
        QCOMPARE(said.join(QLatin1Char(';')), passedOver);
        if (slotText.isEmpty() && barcodes.isEmpty())
            QCOMPARE(plan.missed, 0); // an empty slot nobody chose is not missed
    }
};

QTEST_GUILESS_MAIN(TestLibraryPlan)
#include "tst_library_plan.moc"
