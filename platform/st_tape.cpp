#include "platform/st_tape.h"

#include "platform/st_mapping.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/mtio.h>

std::unique_ptr<StTape> StTape::open(const std::string &path, DWORD &error, StSystem &system)
{
    const int fd = system.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = StMapping::errnoToError(errno);
        return nullptr;
    }
    error = NO_ERROR;
    return std::unique_ptr<StTape>(new StTape(system, fd, path));
}

StTape::StTape(StSystem &system, int fd, std::string path)
    : m_system(system)
    , m_fd(fd)
    , m_path(std::move(path))
{
}

StTape::~StTape()
{
    m_system.close(m_fd);
}

DWORD StTape::operation(short op, int count)
{
    mtop request = {};
    request.mt_op = op;
    request.mt_count = count;
    if (m_system.ioctl(m_fd, MTIOCTOP, &request) != 0)
        return StMapping::errnoToError(errno);
    return NO_ERROR;
}

DWORD StTape::prepare(bool unload)
{
    return unload ? operation(MTOFFL, 1) : operation(MTLOAD, 1);
}

DWORD StTape::status()
{
    mtget state = {};
    if (m_system.ioctl(m_fd, MTIOCGET, &state) != 0)
        return StMapping::errnoToError(errno);
    return StMapping::statusToError(state.mt_gstat);
}

bool StTape::logSense(int fd, std::vector<unsigned char> &answer)
{
    auto command = StMapping::capacityPageCommand(std::uint16_t(answer.size()));
    unsigned char sense[32] = {};
    sg_io_hdr_t io = {};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = static_cast<unsigned char>(command.size());
    io.cmdp = command.data();
    io.dxfer_len = static_cast<unsigned>(answer.size());
    io.dxferp = answer.data();
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = 60000; // ms
    if (m_system.ioctl(fd, SG_IO, &io) != 0)
        return false;
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK)
        return false;
    answer.resize(answer.size() - std::size_t(io.resid > 0 ? io.resid : 0));
    return true;
}

DWORD StTape::mediaInfo(TapeMediaInfo &info)
{
    std::vector<unsigned char> answer(256);
    bool answered = logSense(m_fd, answer);
    if (!answered) {
        // SG_IO on the st node needs CAP_SYS_RAWIO; the generic node needs
        // only read and write access to /dev/sgN.
        const std::string generic = m_system.genericNodeFor(m_path);
        const int fd = generic.empty()
            ? -1
            : m_system.open(generic.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            answer.assign(256, 0);
            answered = logSense(fd, answer);
            m_system.close(fd);
        }
    }
    StMapping::CapacityPage page;
    if (!answered || !StMapping::parseCapacityPage(answer.data(), answer.size(), page))
        return ERROR_NOT_SUPPORTED;
    constexpr std::uint64_t MiB = 1024 * 1024;
    info.capacity = static_cast<std::int64_t>(page.maximumMiB * MiB);
    info.remaining = static_cast<std::int64_t>(page.remainingMiB * MiB);
    info.blockSize = m_blockSize;
    info.partitionCount = 1;
    info.writeProtected = false;
    return NO_ERROR;
}

DWORD StTape::setBlockSize(std::uint32_t blockSize)
{
    const DWORD result = operation(MTSETBLK, static_cast<int>(blockSize));
    if (result == NO_ERROR)
        m_blockSize = blockSize;
    return result;
}

DWORD StTape::spaceToEndOfData()
{
    return operation(MTEOM, 1);
}

DWORD StTape::seekBlock(std::uint64_t block)
{
    if (block == 0)
        return operation(MTREW, 1);
    if (block > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    return operation(MTSEEK, static_cast<int>(block));
}

DWORD StTape::position(std::uint64_t &block)
{
    mtpos where = {};
    if (m_system.ioctl(m_fd, MTIOCPOS, &where) != 0)
        return StMapping::errnoToError(errno);
    block = static_cast<unsigned long>(where.mt_blkno);
    return NO_ERROR;
}

DWORD StTape::readFailure(int error)
{
    if (error != EIO)
        return StMapping::errnoToError(error);
    mtget state = {};
    if (m_system.ioctl(m_fd, MTIOCGET, &state) != 0)
        return ERROR_IO_DEVICE;
    return StMapping::readEioToError(state.mt_gstat);
}

DWORD StTape::read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    bytesRead = 0;
    // In fixed block mode st wants whole blocks: ask for exactly one.
    if (m_blockSize > 0 && length > m_blockSize)
        length = m_blockSize;
    if (m_blockSize > 0 && length < m_blockSize)
        return readWholeRecord(buffer, length, bytesRead);
    const long got = m_system.read(m_fd, buffer, length);
    if (got < 0) {
        const int error = errno;
        if (error == ENOMEM) {
            // The drive has passed the record: step back over it and read it whole.
            const DWORD back = operation(MTBSR, 1);
            return back == NO_ERROR ? readWholeRecord(buffer, length, bytesRead) : back;
        }
        return readFailure(error);
    }
    bytesRead = static_cast<std::uint32_t>(got);
    return got == 0 ? ERROR_FILEMARK_DETECTED : NO_ERROR;
}

DWORD StTape::readWholeRecord(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    const std::size_t request = m_blockSize > 0 ? m_blockSize : kLargestRecord;
    if (m_longRecord.size() < request)
        m_longRecord.resize(request);
    const long got = m_system.read(m_fd, m_longRecord.data(), request);
    if (got < 0)
        return readFailure(errno);
    const std::size_t record = static_cast<std::size_t>(got);
    const std::size_t copied = record < length ? record : length;
    std::memcpy(buffer, m_longRecord.data(), copied);
    bytesRead = static_cast<std::uint32_t>(copied);
    if (record == 0)
        return ERROR_FILEMARK_DETECTED;
    return record > length ? ERROR_MORE_DATA : NO_ERROR;
}

DWORD StTape::eject()
{
    return operation(MTOFFL, 1);
}
