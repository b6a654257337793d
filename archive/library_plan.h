#pragma once
/**
 * @file
 * Which cartridges of a library a batch images, and where: chosen by slot or
 * barcode (every full storage slot when none is named), cleaning cartridges
 * and empty slots passed over with the reason, drives that hold a cartridge
 * at the start left alone, and each image named by its barcode.
 */
#include "archive/library_changer.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Library {

struct Selection
{
    QList<int> slotNumbers; ///< slot numbers as the inventory numbers them
    QStringList barcodes;
};

struct PlannedCartridge
{
    int slot = 0;
    std::uint16_t address = 0; ///< the slot's element address, where it goes back to
    QString barcode; ///< empty when it has none
    QString imageName; ///< the master's file name in the batch's folder
};

/// Something chosen but not imaged, or left alone, and the slot it concerns (0: none).
struct PassedOver
{
    int slot = 0;
    QString text;
};

struct BatchPlan
{
    std::vector<PlannedCartridge> cartridges;
    std::vector<int> freeDrives; ///< drive numbers the batch may load
    std::vector<PassedOver> passedOver;
    int missed = 0; ///< slots or barcodes named that hold nothing to image (no cleaning cartridge)
};

BatchPlan planBatch(const Inventory &inventory, const Selection &selection);

/// "1-4,7" into slot numbers; false with @p problem when it is not such a list.
bool parseSlotList(const QString &text, QList<int> &numbers, QString &problem);

} // namespace Library
