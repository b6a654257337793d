#include "archive/library_takeback.h"

#include <QDateTime>

namespace Library {

namespace {

const ScsiChanger::Element *elementAt(const Inventory &inventory, std::uint16_t address)
{
    for (const auto *kind : { &inventory.storage, &inventory.importExports }) {
        for (const ScsiChanger::Element &e : *kind) {
            if (e.address == address)
                return &e;
        }
    }
    return nullptr;
}

const ScsiChanger::Element *slotAt(const Inventory &inventory, int slot)
{
    const int storage = int(inventory.storage.size());
    if (slot >= 1 && slot <= storage)
        return &inventory.storage[std::size_t(slot - 1)];
    if (slot > storage && slot <= storage + int(inventory.importExports.size()))
        return &inventory.importExports[std::size_t(slot - storage - 1)];
    return nullptr;
}

} // namespace

bool takeBackDrives(const Inventory &inventory, TakeBack &p)
{
    std::vector<Attempt> running;
    for (const Attempt &a : p.ledger.latest()) {
        if (a.verdict == QLatin1String("running"))
            running.push_back(a);
    }
    const QString unread = p.ledger.lastProblem();
    if (!unread.isEmpty())
        p.event(QString(), 0, QString(),
            QStringLiteral("the journal cannot be read (%1): a cartridge in a drive is taken "
                           "for a foreign one")
                .arg(unread));
    bool moved = false;
    for (std::size_t n = 0; n < inventory.drives.size(); ++n) {
        const ScsiChanger::Element &e = inventory.drives[n];
        const QString node
            = n < p.settings.driveNodes.size() ? p.settings.driveNodes[n] : QString();
        if (!e.full || node.isEmpty())
            continue;
        const QString barcode = QString::fromStdString(e.barcode);
        const int from = e.sourceValid ? inventory.slotNumber(e.source) : -1;
        const Attempt *mine = nullptr;
        // Some changers give no barcode for a cartridge in a drive: then the slot it
        // came from must be the attempt's.
        for (const Attempt &a : running) {
            if (a.drive == node && (barcode.isEmpty() ? a.slot == from : a.barcode == barcode))
                mine = &a;
        }
        if (!mine && !p.settings.unloadForeign)
            continue; // the plan reports it left alone
        const QString what
            = barcode.isEmpty() ? QStringLiteral("a cartridge without barcode") : barcode;
        const ScsiChanger::Element *home = mine ? slotAt(inventory, mine->slot)
            : e.sourceValid                     ? elementAt(inventory, e.source)
                                                : nullptr;
        QString problem;
        if (!home) {
            p.event(mine ? mine->cartridge : barcode, 0, node,
                QStringLiteral("drive %1 holds %2, and its slot is not known: left alone")
                    .arg(n)
                    .arg(what));
        } else if (home->full) {
            p.event(mine ? mine->cartridge : barcode, 0, node,
                QStringLiteral("drive %1 holds %2, and its %3 is full: left alone")
                    .arg(n)
                    .arg(what, inventory.placeName(home->address)));
        } else if (!(problem = p.drives.unload(node)).isEmpty()
            || !p.robot.move(e.address, home->address, problem)) {
            p.event(mine ? mine->cartridge : barcode, 0, node,
                QStringLiteral("drive %1 holds %2, which could not be put back in its %3: %4")
                    .arg(n)
                    .arg(what, inventory.placeName(home->address), problem));
        } else {
            p.event(mine ? mine->cartridge : barcode, inventory.slotNumber(home->address), node,
                mine ? QStringLiteral("drive %1 held it when an earlier run of this batch "
                                      "stopped: put back in its %2, to be resumed")
                           .arg(n)
                           .arg(inventory.placeName(home->address))
                     : QStringLiteral("drive %1 held %2: put back in its %3 (--unload-foreign)")
                           .arg(n)
                           .arg(what, inventory.placeName(home->address)));
            moved = true;
        }
    }
    // An attempt left running was stopped by a kill: say so, its master is resumed.
    for (Attempt &a : running) {
        a.verdict = QStringLiteral("interrupted");
        a.ended = QDateTime::currentDateTimeUtc();
        a.errors << QStringLiteral("the batch imaging it was killed");
        p.record([&](QString &problem) { return p.ledger.finish(a, problem); });
    }
    return moved;
}

} // namespace Library
