#pragma once
/**
 * @file
 * The system calls the st backend makes, behind an interface so that the
 * backend's logic runs in tests against a fake drive. Every call reports
 * failure as the system call would: -1 with errno set.
 */
#include <cstddef>
#include <cstdint>
#include <string>

class StSystem
{
public:
    virtual ~StSystem() = default;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    /// ioctl(2) with a pointer argument (struct mtop, mtget, mtpos, sg_io_hdr).
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;
    virtual long read(int fd, void *buffer, std::size_t length) = 0;
    /**
     * The SCSI generic node (/dev/sgN) of the tape node @p stPath, found
     * through /sys/class/scsi_tape/<node>/device/scsi_generic/; empty when
     * there is none.
     */
    virtual std::string genericNodeFor(const std::string &stPath) = 0;
    /**
     * The largest transfer of the adapter behind the tape node @p stPath, in KiB:
     * max_sectors_kb and max_hw_sectors_kb of its request queue, else the host's
     * max_sectors. False (both left alone) when sysfs does not tell.
     */
    virtual bool adapterLimits(
        const std::string &stPath, std::int64_t &maxKb, std::int64_t &hwMaxKb)
    {
        (void)stPath, (void)maxKb, (void)hwMaxKb;
        return false;
    }
};

/// The real system calls.
StSystem &linuxStSystem();
