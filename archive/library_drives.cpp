#include "archive/library_drives.h"

#include "platform/st/st_library_drive.h"

namespace Library {

bool pairDrives(const Inventory &inventory, const std::vector<DriveNode> &found,
    const QStringList &given, DrivePairing &pairing, QString &problem)
{
    const std::size_t drives = inventory.drives.size();
    pairing.nodes.assign(drives, QString());
    pairing.notes.clear();
    if (!given.isEmpty()) {
        if (std::size_t(given.size()) > drives) {
            problem = QStringLiteral("%1 --drive options, but the changer has %2 drives")
                          .arg(given.size())
                          .arg(drives);
            return false;
        }
        for (std::size_t d = 0; d < drives; ++d) {
            if (d < std::size_t(given.size()))
                pairing.nodes[d] = given.at(int(d));
            else
                pairing.notes << QStringLiteral("drive %1 has no --drive: not used").arg(d);
        }
        return true;
    }
    bool anySerial = false;
    int paired = 0;
    for (std::size_t d = 0; d < drives; ++d) {
        const QString serial = QString::fromStdString(inventory.drives[d].serial).trimmed();
        if (serial.isEmpty())
            continue;
        anySerial = true;
        for (const DriveNode &node : found) {
            if (node.serial.trimmed() == serial)
                pairing.nodes[d] = node.path;
        }
        if (pairing.nodes[d].isEmpty())
            pairing.notes << QStringLiteral("drive %1 (serial %2) is no tape drive of this "
                                            "machine: not used")
                                 .arg(d)
                                 .arg(serial);
        else
            ++paired;
    }
    if (!anySerial && drives == 1 && found.size() == 1) {
        pairing.nodes[0] = found.front().path;
        return true;
    }
    if (!anySerial) {
        problem = QStringLiteral("the changer does not report its drives' serial numbers, and "
                                 "there are %1 tape drives for its %2 drives: name them with "
                                 "--drive, in the changer's drive order")
                      .arg(found.size())
                      .arg(drives);
        return false;
    }
    for (std::size_t d = 0; d < drives; ++d) {
        if (inventory.drives[d].serial.empty())
            pairing.notes << QStringLiteral("drive %1 reports no serial number: not used").arg(d);
    }
    if (paired == 0) {
        problem = QStringLiteral("no tape drive of this machine has the serial number of a "
                                 "drive of the changer: name them with --drive");
        return false;
    }
    return true;
}

std::vector<DriveNode> tapeNodes()
{
    std::vector<DriveNode> nodes;
    for (const StLibraryDrive::TapeNode &node : StLibraryDrive::tapeNodes())
        nodes.push_back({ QString::fromStdString(node.path), QString::fromStdString(node.serial) });
    return nodes;
}

} // namespace Library
