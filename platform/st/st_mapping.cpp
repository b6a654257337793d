#include "platform/st/st_mapping.h"

#include <cerrno>
#include <sys/mtio.h>

namespace StMapping {

DWORD errnoToError(int error)
{
    switch (error) {
    case 0:
        return NO_ERROR;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case ENOMEDIUM:
        return ERROR_NO_MEDIA_IN_DRIVE;
    case EAGAIN:
        return ERROR_NOT_READY;
    case ENOSPC:
        return ERROR_END_OF_MEDIA;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ENOMEM:
        return ERROR_MORE_DATA;
    default:
        return ERROR_IO_DEVICE;
    }
}

DWORD statusToError(long gmtStatus)
{
    if (GMT_DR_OPEN(gmtStatus))
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (!GMT_ONLINE(gmtStatus))
        return ERROR_NOT_READY;
    return NO_ERROR;
}

DWORD readEioToError(long gmtStatus)
{
    if (GMT_EOD(gmtStatus))
        return ERROR_NO_DATA_DETECTED;
    if (GMT_EOT(gmtStatus))
        return ERROR_END_OF_MEDIA;
    if (GMT_DR_OPEN(gmtStatus))
        return ERROR_NO_MEDIA_IN_DRIVE;
    return ERROR_CRC;
}

std::array<unsigned char, 10> capacityPageCommand(std::uint16_t allocationLength)
{
    // LOG SENSE(10): page control 01b (current cumulative values), page 0x31.
    return { 0x4D, 0x00, 0x40 | 0x31, 0x00, 0x00, 0x00, 0x00,
        static_cast<unsigned char>(allocationLength >> 8),
        static_cast<unsigned char>(allocationLength & 0xFF), 0x00 };
}

bool parseCapacityPage(const unsigned char *data, std::size_t length, CapacityPage &page)
{
    if (!data || length < 4 || (data[0] & 0x3F) != 0x31)
        return false;
    const std::size_t pageEnd = 4 + (std::size_t(data[2]) << 8 | data[3]);
    const std::size_t end = pageEnd < length ? pageEnd : length;
    bool haveRemaining = false;
    bool haveMaximum = false;
    CapacityPage found;
    for (std::size_t at = 4; at + 4 <= end;) {
        const unsigned code = unsigned(data[at]) << 8 | data[at + 1];
        const std::size_t valueLength = data[at + 3];
        const std::size_t valueStart = at + 4;
        if (valueStart + valueLength > end)
            break;
        if (valueLength >= 1 && valueLength <= 8 && (code == 1 || code == 3)) {
            std::uint64_t value = 0;
            for (std::size_t i = 0; i < valueLength; ++i)
                value = value << 8 | data[valueStart + i];
            (code == 1 ? found.remainingMiB : found.maximumMiB) = value;
            (code == 1 ? haveRemaining : haveMaximum) = true;
        }
        at = valueStart + valueLength;
    }
    if (!haveRemaining || !haveMaximum)
        return false;
    page = found;
    return true;
}

MediaFigures mediaFigures(const CapacityPage &page, std::int64_t objectsRecorded)
{
    constexpr std::uint64_t MiB = 1024 * 1024;
    const std::uint64_t remaining
        = page.remainingMiB < page.maximumMiB ? page.remainingMiB : page.maximumMiB;
    std::uint64_t recorded = (page.maximumMiB - remaining) * MiB;
    if (objectsRecorded == 0)
        recorded = 0;
    else if (objectsRecorded > 0 && recorded == 0)
        recorded = MiB;
    MediaFigures figures;
    figures.capacity = static_cast<std::int64_t>(page.maximumMiB * MiB);
    figures.remaining = recorded < std::uint64_t(figures.capacity)
        ? figures.capacity - static_cast<std::int64_t>(recorded)
        : 0;
    return figures;
}

} // namespace StMapping
