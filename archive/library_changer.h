#pragma once
/**
 * @file
 * A tape library's changer as the library programs see it: opened by its node,
 * asked what it holds (slots, drives, import/export slots, barcodes, where a
 * loaded cartridge came from) and told to move a cartridge.
 */
#include "platform/st/scsi_changer.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace Library {

/// What the changer holds, in the order it reports each element type.
struct Inventory
{
    bool haveAssignment = false;
    ScsiChanger::AddressAssignment assignment;
    std::vector<ScsiChanger::Element> transports, storage, importExports, drives;

    /// Slots are numbered from 1 over the storage slots, then the import/export
    /// slots; drives from 0. -1 when no element has that address.
    int slotNumber(std::uint16_t address) const;
    int driveNumber(std::uint16_t address) const;
    /// The storage or import/export slot numbered @p number, or null.
    const ScsiChanger::Element *slot(int number) const;
    /// "slot 3", "import/export slot 11", "drive 0" or "element 77".
    QString placeName(std::uint16_t address) const;
};

/// The inventory as printed: one heading, then one line per drive, slot and
/// import/export slot.
QStringList inventoryLines(const Inventory &inventory, const QString &path);

class Changer
{
public:
    Changer() = default;
    ~Changer();
    Changer(const Changer &) = delete;
    Changer &operator=(const Changer &) = delete;

    /// Opens the changer node; on refusal @p problem says why (and for access,
    /// which group grants it).
    bool open(const QString &path, QString &problem);
    /// INITIALIZE ELEMENT STATUS: the robot scans every slot (slow on a big library).
    bool initialize(QString &problem);
    bool readInventory(Inventory &inventory, QString &problem);
    bool move(
        std::uint16_t source, std::uint16_t destination, std::uint16_t transport, QString &problem);
    /// "vendor product serial" from INQUIRY and its serial number page; empty when the
    /// changer does not tell its serial number.
    QString identity();

private:
    bool run(const unsigned char *command, std::size_t length, std::vector<unsigned char> *answer,
        unsigned timeoutMs, const QString &what, QString &problem);
    bool readType(ScsiChanger::ElementType type, std::vector<ScsiChanger::Element> &elements,
        QString &problem);

    QString m_path;
    int m_fd = -1;
    bool m_triedGeneric = false;
};

} // namespace Library
