#include "platform/st/st_system.h"

#include <cerrno>
#include <climits>
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
};

} // namespace

StSystem &linuxStSystem()
{
    static LinuxStSystem system;
    return system;
}
