#pragma once
/**
 * @file
 * One SCSI command through SG_IO on a generic node (/dev/sgN) or a changer node
 * (/dev/schN), with the outcome a caller needs to explain a refusal: the errno of
 * the ioctl, the SCSI status, and the sense key, ASC and ASCQ.
 */
#include <cstddef>
#include <cstdint>
#include <string>

namespace ScsiChannel {

struct Outcome
{
    int error = 0; ///< errno when the ioctl itself failed, else 0
    std::uint8_t status = 0; ///< SCSI status (2: check condition)
    bool transportFailed = false; ///< the host adapter or driver gave up
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::size_t transferred = 0; ///< bytes the device sent

    bool ok() const { return error == 0 && status == 0 && !transportFailed; }
};

enum class Direction { None, FromDevice, ToDevice };

/// Opens @p path read-write without waiting; -errno when refused.
int open(const std::string &path);
void close(int fd);

/// Sends @p command; for FromDevice @p data receives up to @p length bytes.
Outcome send(int fd, const unsigned char *command, std::size_t commandLength, Direction direction,
    unsigned char *data, std::size_t length, unsigned timeoutMs);

/// The generic node (/dev/sgM) of a changer node /dev/schN, or empty when there is none.
std::string genericNodeOfChanger(const std::string &path);

} // namespace ScsiChannel
