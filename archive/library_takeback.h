#pragma once
/**
 * @file
 * Before a batch loads anything: the drives that hold a cartridge and may be
 * emptied, one its own journal left running there or any with
 * --unload-foreign, unloaded and their cartridges put back in their slots.
 */
#include "archive/library_batch.h"

#include <functional>

namespace Library {

struct TakeBack
{
    Robot &robot;
    DriveHandler &drives;
    Ledger &ledger;
    const BatchSettings &settings;
    /// Says and journals one line about a cartridge.
    std::function<void(const QString &, int, const QString &, const QString &)> event;
    /// Writes to the journal; false (and the batch stops) when it cannot.
    std::function<bool(const std::function<bool(QString &)> &)> record;
};

/// True when a cartridge moved, so that the inventory must be read again.
bool takeBackDrives(const Inventory &inventory, TakeBack &p);

} // namespace Library
