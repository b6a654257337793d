#pragma once
/**
 * @file
 * Which tape node serves which drive of a library's changer: paired by the
 * serial numbers both sides report, or by the operator's --drive options in
 * the changer's drive order.
 */
#include "archive/library_changer.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace Library {

struct DriveNode
{
    QString path; ///< /dev/nstN
    QString serial; ///< the unit serial number; empty when the drive does not say
};

struct DrivePairing
{
    std::vector<QString> nodes; ///< by drive number; empty where no node serves that drive
    QStringList notes; ///< one line per drive the batch cannot use, and why
};

/**
 * Pairs the changer's drives with tape nodes: @p given (the --drive options) in drive
 * order when there are any, else by serial number against @p found. False with
 * @p problem when that cannot be done (more --drive options than drives, no serials
 * on the changer's side and not exactly one drive and one node, nothing pairs).
 */
bool pairDrives(const Inventory &inventory, const std::vector<DriveNode> &found,
    const QStringList &given, DrivePairing &pairing, QString &problem);

/// Every tape node of this machine with its serial number.
std::vector<DriveNode> tapeNodes();

} // namespace Library
