#include "archive/library_plan.h"

#include <QSet>

namespace Library {

using ScsiChanger::Element;

namespace {

// A barcode is the operator's label, not a path: anything that could leave the
// folder or hide the file becomes '_'.
QString fileStem(const QString &barcode)
{
    QString stem = barcode;
    for (QChar &c : stem) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')
                || c == QLatin1Char('.'))
            || c.unicode() > 0x7E)
            c = QLatin1Char('_');
    }
    if (stem.startsWith(QLatin1Char('.')))
        stem[0] = QLatin1Char('_');
    return stem;
}

QString barcodeOf(const Element &e)
{
    return QString::fromStdString(e.barcode);
}

} // namespace

BatchPlan planBatch(const Inventory &inventory, const Selection &selection)
{
    BatchPlan plan;
    for (std::size_t d = 0; d < inventory.drives.size(); ++d) {
        const Element &drive = inventory.drives[d];
        if (drive.full) {
            const int from = drive.sourceValid ? inventory.slotNumber(drive.source) : 0;
            plan.passedOver.push_back({ std::max(from, 0),
                QStringLiteral("drive %1 holds %2%3: left alone")
                    .arg(d)
                    .arg(drive.barcode.empty() ? QStringLiteral("a cartridge without barcode")
                                               : barcodeOf(drive))
                    .arg(drive.sourceValid
                            ? QStringLiteral(" from ") + inventory.placeName(drive.source)
                            : QString()) });
        } else if (drive.exception) {
            plan.passedOver.push_back({ 0,
                QStringLiteral("drive %1 reports a fault (ASC %2h): not used")
                    .arg(d)
                    .arg(drive.asc, 2, 16, QLatin1Char('0')) });
        } else {
            plan.freeDrives.push_back(int(d));
        }
    }

    QList<int> chosen = selection.slotNumbers;
    for (const QString &barcode : selection.barcodes) {
        int found = -1;
        for (int slot = 1; found < 0 && inventory.slot(slot); ++slot) {
            const Element *e = inventory.slot(slot);
            if (e->full && barcodeOf(*e) == barcode)
                found = slot;
        }
        if (found > 0)
            chosen << found;
        else {
            plan.passedOver.push_back(
                { 0, QStringLiteral("barcode %1 is in no slot").arg(barcode) });
            ++plan.missed;
        }
    }
    // Without a choice every storage slot is taken, the empty ones only to be said, so
    // that the journal accounts for the whole library; they are not missed.
    const bool everything = selection.slotNumbers.isEmpty() && selection.barcodes.isEmpty();
    if (everything) {
        for (int slot = 1; slot <= int(inventory.storage.size()); ++slot)
            chosen << slot;
    }

    QSet<int> seen;
    QSet<QString> names;
    for (const int slot : chosen) {
        if (seen.contains(slot))
            continue;
        seen.insert(slot);
        const Element *e = inventory.slot(slot);
        if (!e) {
            plan.passedOver.push_back({ slot, QStringLiteral("there is no slot %1").arg(slot) });
            ++plan.missed;
            continue;
        }
        if (!e->full) {
            plan.passedOver.push_back({ slot, QStringLiteral("slot %1 is empty").arg(slot) });
            plan.missed += everything ? 0 : 1;
            continue;
        }
        if (ScsiChanger::isCleaning(*e)) {
            plan.passedOver.push_back({ slot,
                QStringLiteral("slot %1 holds the cleaning cartridge %2: not imaged")
                    .arg(slot)
                    .arg(barcodeOf(*e)) });
            continue;
        }
        PlannedCartridge cartridge;
        cartridge.slot = slot;
        cartridge.address = e->address;
        cartridge.barcode = barcodeOf(*e);
        cartridge.imageName = cartridge.barcode.isEmpty()
            ? QStringLiteral("slot-%1.tap").arg(slot)
            : fileStem(cartridge.barcode) + QStringLiteral(".tap");
        // Two cartridges labelled alike must not write one file.
        if (names.contains(cartridge.imageName))
            cartridge.imageName
                = fileStem(cartridge.barcode) + QStringLiteral("-slot-%1.tap").arg(slot);
        names.insert(cartridge.imageName);
        plan.cartridges.push_back(cartridge);
    }
    return plan;
}

bool parseSlotList(const QString &text, QList<int> &numbers, QString &problem)
{
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString &part : parts) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        bool firstOk = false, lastOk = ends.size() == 1;
        const int first = ends.first().toInt(&firstOk);
        const int last = ends.size() == 2 ? ends.last().toInt(&lastOk) : first;
        if (ends.size() > 2 || !firstOk || !lastOk || first < 1 || last < first || last > 65535) {
            problem = QStringLiteral("\"%1\" is not a slot list such as 1-4,7").arg(text);
            return false;
        }
        for (int slot = first; slot <= last; ++slot)
            numbers << slot;
    }
    return true;
}

} // namespace Library
