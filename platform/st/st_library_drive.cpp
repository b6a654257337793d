#include "platform/st/st_library_drive.h"

#include "platform/st/scsi_channel.h"
#include "platform/st/scsi_inquiry.h"
#include "platform/st/st_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mtio.h>
#include <unistd.h>

namespace StLibraryDrive {

namespace {

constexpr const char *kTapeClass = "/sys/class/scsi_tape";

std::string serialFromSysfs(const std::string &node)
{
    const std::string path = std::string(kTapeClass) + '/' + node + "/device/vpd_pg80";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::string();
    unsigned char page[256];
    const std::size_t got = std::fread(page, 1, sizeof page, file);
    std::fclose(file);
    std::string serial;
    return ScsiInquiry::parseSerialPage(page, got, serial) ? serial : std::string();
}

std::string serialFromInquiry(const std::string &path)
{
    const std::string generic = linuxStSystem().genericNodeFor(path);
    const int fd = generic.empty() ? -1 : ScsiChannel::open(generic);
    if (fd < 0)
        return std::string();
    unsigned char page[255] = {};
    const auto command = ScsiInquiry::command(true, sizeof page);
    const ScsiChannel::Outcome outcome = ScsiChannel::send(fd, command.data(), command.size(),
        ScsiChannel::Direction::FromDevice, page, sizeof page, 10 * 1000);
    ScsiChannel::close(fd);
    std::string serial;
    if (!outcome.ok() || !ScsiInquiry::parseSerialPage(page, outcome.transferred, serial))
        return std::string();
    return serial;
}

// "nst12" -> 12; -1 for st0, nst0a (the other modes) and anything else.
int nodeNumber(const std::string &name)
{
    if (name.size() < 4 || name.compare(0, 3, "nst") != 0)
        return -1;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
    }
    return std::atoi(name.c_str() + 3);
}

} // namespace

std::vector<TapeNode> tapeNodes()
{
    std::vector<std::pair<int, std::string>> names;
    if (DIR *dir = ::opendir(kTapeClass)) {
        while (const dirent *entry = ::readdir(dir)) {
            const int number = nodeNumber(entry->d_name);
            if (number >= 0)
                names.emplace_back(number, entry->d_name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::vector<TapeNode> nodes;
    for (const auto &name : names) {
        TapeNode node;
        node.path = "/dev/" + name.second;
        node.serial = serialFromSysfs(name.second);
        if (node.serial.empty())
            node.serial = serialFromInquiry(node.path);
        nodes.push_back(node);
    }
    return nodes;
}

int ready(const std::string &path)
{
    // Without O_NONBLOCK st waits for the medium itself, or refuses an empty drive.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    mtget status = {};
    const int asked = ::ioctl(fd, MTIOCGET, &status);
    const int error = errno;
    ::close(fd);
    if (asked < 0)
        return -error;
    return GMT_ONLINE(status.mt_gstat) ? 1 : 0;
}

int unload(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    mtop operation = {};
    operation.mt_op = MTOFFL;
    operation.mt_count = 1;
    const int done = ::ioctl(fd, MTIOCTOP, &operation);
    const int error = errno;
    ::close(fd);
    return done < 0 ? error : 0;
}

} // namespace StLibraryDrive
