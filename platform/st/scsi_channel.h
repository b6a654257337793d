#pragma once
/**
 * @file
 * One SCSI command through SG_IO on a generic node (/dev/sgN) or a changer node
 * (/dev/schN), with the outcome a caller needs to explain a refusal: the errno of
 * the ioctl, the SCSI status, and the sense key, ASC and ASCQ.
 */
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ScsiChannel {

struct Outcome
{
    int error = 0; ///< errno when the ioctl itself failed, else 0
    std::uint8_t status = 0; ///< SCSI status (2: check condition)
    bool transportFailed = false; ///< the host adapter or driver gave up
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::size_t transferred = 0; ///< bytes the device sent
    /// The sg driver's own word (SG_INFO_OK): no check condition, nothing failed in between.
    bool infoOk = false;
    std::vector<unsigned char> sense; ///< what the device returned, as it returned it

    bool ok() const { return error == 0 && status == 0 && !transportFailed; }
};

enum class Direction { None, FromDevice, ToDevice };

/// Opens @p path read-write without waiting; -errno when refused.
int open(const std::string &path);
void close(int fd);

/// ioctl(2) as a caller makes it: the system's, or a stand-in under test.
using Ioctl = std::function<int(int fd, unsigned long request, void *argument)>;

/// Sends @p command through @p ioctl (SG_IO); for FromDevice @p data receives up to
/// @p length bytes. Every SG_IO request of the program is made here.
Outcome send(const Ioctl &ioctl, int fd, const unsigned char *command, std::size_t commandLength,
    Direction direction, unsigned char *data, std::size_t length, unsigned timeoutMs);

/// The same through the system's ioctl(2).
Outcome send(int fd, const unsigned char *command, std::size_t commandLength, Direction direction,
    unsigned char *data, std::size_t length, unsigned timeoutMs);

/// The generic node (/dev/sgM) of a changer node /dev/schN, or empty when there is none.
std::string genericNodeOfChanger(const std::string &path);

} // namespace ScsiChannel
