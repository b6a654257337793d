#include "platform/st/scsi_channel.h"

#include "platform/st/scsi_sense.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ScsiChannel {

int open(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

void close(int fd)
{
    if (fd >= 0)
        ::close(fd); // nothing was written through it that a failed close could lose
}

Outcome send(const Ioctl &ioctl, int fd, const unsigned char *command, std::size_t commandLength,
    Direction direction, unsigned char *data, std::size_t length, unsigned timeoutMs)
{
    Outcome outcome;
    unsigned char sense[64] = {};
    sg_io_hdr_t io = {};
    io.interface_id = 'S';
    io.dxfer_direction = direction == Direction::FromDevice ? SG_DXFER_FROM_DEV
        : direction == Direction::ToDevice                  ? SG_DXFER_TO_DEV
                                                            : SG_DXFER_NONE;
    io.cmd_len = static_cast<unsigned char>(commandLength);
    io.cmdp = const_cast<unsigned char *>(command);
    io.dxfer_len = direction == Direction::None ? 0 : static_cast<unsigned>(length);
    io.dxferp = direction == Direction::None ? nullptr : data;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = timeoutMs;
    if (ioctl(fd, SG_IO, &io) != 0) {
        outcome.error = errno;
        return outcome;
    }
    outcome.status = io.status;
    // The driver's low bits (timeout, hard error) mean the command never completed;
    // its sense flag alone is a normal check condition.
    outcome.transportFailed = io.host_status != 0 || (io.driver_status & 0x07) != 0;
    outcome.infoOk = (io.info & SG_INFO_OK_MASK) == SG_INFO_OK;
    const std::size_t senseLength = std::min<std::size_t>(io.sb_len_wr, sizeof sense);
    outcome.sense.assign(sense, sense + senseLength);
    if (senseLength > 0) {
        const SenseFacts facts = ScsiSense::decode(sense, senseLength);
        outcome.senseKey = facts.key;
        outcome.asc = facts.asc;
        outcome.ascq = facts.ascq;
    }
    if (direction == Direction::FromDevice) {
        const std::size_t residue = std::size_t(io.resid > 0 ? io.resid : 0);
        outcome.transferred = residue < length ? length - residue : 0;
    }
    return outcome;
}

Outcome send(int fd, const unsigned char *command, std::size_t commandLength, Direction direction,
    unsigned char *data, std::size_t length, unsigned timeoutMs)
{
    return send(
        [](int f, unsigned long request, void *argument) { return ::ioctl(f, request, argument); },
        fd, command, commandLength, direction, data, length, timeoutMs);
}

std::string genericNodeOfChanger(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.rfind("sch", 0) != 0)
        return std::string();
    const std::string folder = "/sys/class/scsi_changer/" + name + "/device/scsi_generic";
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return std::string();
    std::string generic;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::string(entry->d_name).rfind("sg", 0) == 0)
            generic = "/dev/" + std::string(entry->d_name);
    }
    ::closedir(dir);
    return generic;
}

} // namespace ScsiChannel
