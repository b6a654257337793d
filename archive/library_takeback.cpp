#include "archive/library_takeback.h"

#include <QDateTime>

#include <algorithm>

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

} // namespace

bool takeBackDrives(const Inventory &inventory, TakeBack &p)
{
    // Ours: a cartridge a killed batch left running, or one a batch could not put back.
    std::vector<Attempt> running, leftBehind;
    for (const Attempt &a : p.ledger.latest()) {
        if (a.verdict == QLatin1String("running"))
            running.push_back(a);
        else if (!a.leftIn.isEmpty())
            leftBehind.push_back(a);
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
        // Some changers give no barcode for a cartridge in a drive: then the slot it
        // came from must be the attempt's.
        const auto held = [&](const Attempt &a) {
            return barcode.isEmpty() ? a.slot == from : a.barcode == barcode;
        };
        Attempt *mine = nullptr;
        for (Attempt &a : running) {
            if (a.drive == node && held(a))
                mine = &a;
        }
        Attempt *left = nullptr;
        for (Attempt &a : leftBehind) {
            if (!mine && a.leftIn == node && held(a))
                mine = left = &a;
        }
        if (!mine && !p.settings.unloadForeign)
            continue; // the plan reports it left alone
        const QString what
            = barcode.isEmpty() ? QStringLiteral("a cartridge without barcode") : barcode;
        const ScsiChanger::Element *home = mine ? inventory.slot(mine->slot)
            : e.sourceValid                     ? elementAt(inventory, e.source)
                                                : nullptr;
        if (mine)
            mine->leftIn = node; // until it is put back
        const int slot = mine ? mine->slot : std::max(from, 0);
        QString problem;
        if (!home) {
            p.event(mine ? mine->cartridge : barcode, slot, node,
                QStringLiteral("drive %1 holds %2, and its slot is not known: left alone")
                    .arg(n)
                    .arg(what));
        } else if (home->full) {
            p.event(mine ? mine->cartridge : barcode, slot, node,
                QStringLiteral("drive %1 holds %2, and its %3 is full: left alone")
                    .arg(n)
                    .arg(what, inventory.placeName(home->address)));
        } else if (!(problem = p.drives.unload(node)).isEmpty()
            || !p.robot.move(e.address, home->address, problem)) {
            p.event(mine ? mine->cartridge : barcode, slot, node,
                QStringLiteral("drive %1 holds %2, which could not be put back in its %3: %4")
                    .arg(n)
                    .arg(what, inventory.placeName(home->address), problem));
        } else {
            p.event(mine ? mine->cartridge : barcode, inventory.slotNumber(home->address), node,
                left ? QStringLiteral("drive %1 held it since an earlier run of this batch could "
                                      "not put it back: put back in its %2")
                           .arg(n)
                           .arg(inventory.placeName(home->address))
                    : mine
                    ? QStringLiteral("drive %1 held it when an earlier run of this batch "
                                     "stopped: put back in its %2, to be resumed")
                          .arg(n)
                          .arg(inventory.placeName(home->address))
                    : QStringLiteral("drive %1 held %2: put back in its %3 (--unload-foreign)")
                          .arg(n)
                          .arg(what, inventory.placeName(home->address)));
            moved = true;
            if (mine)
                mine->leftIn.clear();
        }
    }
    // One taken out by hand meanwhile is no longer where the journal says.
    for (Attempt &a : leftBehind) {
        const auto at
            = std::find(p.settings.driveNodes.begin(), p.settings.driveNodes.end(), a.leftIn);
        const std::size_t n = std::size_t(at - p.settings.driveNodes.begin());
        if (a.leftIn.isEmpty() || n >= inventory.drives.size())
            continue;
        const ScsiChanger::Element &e = inventory.drives[n];
        if (e.full && (e.barcode.empty() || QString::fromStdString(e.barcode) == a.barcode))
            continue;
        p.event(a.cartridge, a.slot, a.leftIn,
            QStringLiteral("drive %1 no longer holds it: taken out by hand").arg(n));
        a.leftIn.clear();
    }
    for (const Attempt &a : leftBehind) {
        if (a.leftIn.isEmpty())
            p.record([&](QString &problem) { return p.ledger.finish(a, problem); });
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
