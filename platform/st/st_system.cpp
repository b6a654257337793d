#include "platform/st/st_system.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class LinuxStSystem : public StSystem
{
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }

    int ioctl(int fd, unsigned long request, void *argument) override
    {
        int result;
        do
            result = ::ioctl(fd, request, argument);
        while (result < 0 && errno == EINTR);
        return result;
    }

    long read(int fd, void *buffer, std::size_t length) override
    {
        // A tape read must not be retried blindly after EINTR (the record may
        // have passed), so it goes to the caller as it is.
        return ::read(fd, buffer, length);
    }

    std::string genericNodeFor(const std::string &stPath) override
    {
        char resolved[PATH_MAX];
        if (!::realpath(stPath.c_str(), resolved))
            return {};
        std::string node(resolved);
        node = node.substr(node.find_last_of('/') + 1);
        const std::string folder = "/sys/class/scsi_tape/" + node + "/device/scsi_generic";
        DIR *dir = ::opendir(folder.c_str());
        if (!dir)
            return {};
        std::string generic;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                generic = std::string("/dev/") + entry->d_name;
                break;
            }
        }
        ::closedir(dir);
        return generic;
    }

    bool adapterLimits(
        const std::string &stPath, std::int64_t &maxKb, std::int64_t &hwMaxKb) override
    {
        char resolved[PATH_MAX];
        if (!::realpath(stPath.c_str(), resolved))
            return false;
        std::string node(resolved);
        node = node.substr(node.find_last_of('/') + 1);
        const std::string device = "/sys/class/scsi_tape/" + node + "/device/";
        // Kernels that give the SCSI device a request queue show it; else the host's figure.
        const long queueMax = number(device + "queue/max_sectors_kb");
        const long queueHwMax = number(device + "queue/max_hw_sectors_kb");
        if (queueMax > 0) {
            maxKb = queueMax;
            hwMaxKb = queueHwMax > 0 ? queueHwMax : queueMax;
            return true;
        }
        char target[PATH_MAX];
        if (!::realpath(device.c_str(), target))
            return false;
        // The device's folder is named host:channel:target:lun.
        std::string address(target);
        address = address.substr(address.find_last_of('/') + 1);
        const std::size_t colon = address.find(':');
        if (colon == std::string::npos)
            return false;
        const long sectors
            = number("/sys/class/scsi_host/host" + address.substr(0, colon) + "/max_sectors");
        if (sectors <= 0)
            return false;
        maxKb = hwMaxKb = sectors / 2;
        return true;
    }

private:
    static long number(const std::string &path)
    {
        FILE *file = std::fopen(path.c_str(), "re");
        if (!file)
            return -1;
        long value = -1;
        if (std::fscanf(file, "%ld", &value) != 1)
            value = -1;
        std::fclose(file);
        return value;
    }
};

} // namespace

StSystem &linuxStSystem()
{
    static LinuxStSystem system;
    return system;
}
