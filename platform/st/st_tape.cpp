#include "platform/st/st_tape.h"

#include "platform/st/scsi_channel.h"
#include "platform/st/scsi_inquiry.h"
#include "platform/st/st_mapping.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mtio.h>

namespace {

/// The next read to try for an over-long record: below the largest SCSI record, powers of two.
std::size_t smallerRead(std::size_t request)
{
    return request == StTape::kLargestRecord ? std::size_t(8) << 20 : request / 2;
}

} // namespace

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
    m_endOfData = -1; // another medium may come, with other limits
    m_readLimit = 0;
    return unload ? operation(MTOFFL, 1) : operation(MTLOAD, 1);
}

DWORD StTape::status()
{
    mtget state = {};
    if (m_system.ioctl(m_fd, MTIOCGET, &state) != 0)
        return StMapping::errnoToError(errno);
    return StMapping::statusToError(state.mt_gstat);
}

bool StTape::scsiIn(int fd, const unsigned char *command, std::size_t commandLength,
    std::vector<unsigned char> &answer)
{
    const ScsiChannel::Outcome outcome
        = ScsiChannel::send([this](int f, unsigned long request,
                                void *argument) { return m_system.ioctl(f, request, argument); },
            fd, command, commandLength, ScsiChannel::Direction::FromDevice, answer.data(),
            answer.size(), 60000);
    if (outcome.error != 0 || !outcome.infoOk)
        return false;
    answer.resize(outcome.transferred);
    return true;
}

bool StTape::askDrive(
    const unsigned char *command, std::size_t commandLength, std::vector<unsigned char> &answer)
{
    const std::size_t length = answer.size();
    if (scsiIn(m_fd, command, commandLength, answer))
        return true;
    // SG_IO on the st node needs CAP_SYS_RAWIO; the generic node needs
    // only read and write access to /dev/sgN.
    const std::string generic = m_system.genericNodeFor(m_path);
    const int fd
        = generic.empty() ? -1 : m_system.open(generic.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    answer.assign(length, 0);
    const bool answered = scsiIn(fd, command, commandLength, answer);
    m_system.close(fd);
    return answered;
}

DWORD StTape::mediaInfo(TapeMediaInfo &info)
{
    std::vector<unsigned char> answer(256);
    const auto command = StMapping::capacityPageCommand(std::uint16_t(answer.size()));
    const bool answered = askDrive(command.data(), command.size(), answer);
    StMapping::CapacityPage page;
    if (!answered || !StMapping::parseCapacityPage(answer.data(), answer.size(), page))
        return ERROR_NOT_SUPPORTED;
    const StMapping::MediaFigures figures = StMapping::mediaFigures(page, m_endOfData);
    info.capacity = figures.capacity;
    info.remaining = figures.remaining;
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
    // Where the data ends tells a read failing there from a medium error, and a
    // blank tape from one with less than 1 MiB recorded.
    m_endOfData = -1;
    const DWORD result = operation(MTEOM, 1);
    std::uint64_t where = 0;
    if (result == NO_ERROR && position(where) == NO_ERROR)
        m_endOfData = static_cast<std::int64_t>(where);
    return result;
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

DWORD StTape::spaceRecords(std::int64_t count)
{
    if (count == 0)
        return NO_ERROR;
    if (count > 0x7FFFFFFF || count < -0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    return count > 0 ? operation(MTFSR, static_cast<int>(count))
                     : operation(MTBSR, static_cast<int>(-count));
}

DWORD StTape::readFailure(int error)
{
    if (error != EIO)
        return StMapping::errnoToError(error);
    mtget state = {};
    if (m_system.ioctl(m_fd, MTIOCGET, &state) != 0)
        return ERROR_IO_DEVICE;
    const DWORD result = StMapping::readEioToError(state.mt_gstat);
    // st flags the end of data only right after a filemark; elsewhere the position tells.
    std::uint64_t where = 0;
    if (result == ERROR_CRC && m_endOfData >= 0 && position(where) == NO_ERROR
        && where == static_cast<std::uint64_t>(m_endOfData))
        return ERROR_NO_DATA_DETECTED;
    return result;
}

DWORD StTape::emptyRead()
{
    // A filemark, or the end of data right after one (st then sets GMT_EOD).
    mtget state = {};
    if (m_system.ioctl(m_fd, MTIOCGET, &state) == 0 && GMT_EOD(state.mt_gstat))
        return ERROR_NO_DATA_DETECTED;
    return ERROR_FILEMARK_DETECTED;
}

DWORD StTape::read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    bytesRead = 0;
    // In fixed block mode st wants whole blocks: ask for exactly one.
    if (m_blockSize > 0 && length > m_blockSize)
        length = m_blockSize;
    // Only the record's bytes are copied from the backend's own buffer.
    if (m_blockSize > 0 ? length < m_blockSize : length > kClearedRead)
        return readOwnBuffer(buffer, length, bytesRead);
    std::uint32_t handed = 0;
    const DWORD result = readRecord(buffer, length, bytesRead, handed);
    // st may read straight into the buffer, and a careless drive or transport
    // sends more than the record: nothing past the bytes read may stay.
    if (bytesRead < handed)
        std::memset(static_cast<unsigned char *>(buffer) + bytesRead, 0, handed - bytesRead);
    return result;
}

DWORD StTape::readRecord(
    void *buffer, std::uint32_t length, std::uint32_t &bytesRead, std::uint32_t &handed)
{
    // A read longer than st took before would only be refused again.
    const std::uint32_t request = m_blockSize == 0 && m_readLimit > 0 && length > m_readLimit
        ? static_cast<std::uint32_t>(m_readLimit)
        : length;
    handed = request;
    const long got = m_system.read(m_fd, buffer, request);
    if (got > 0) {
        bytesRead = static_cast<std::uint32_t>(got);
        return NO_ERROR;
    }
    if (got == 0)
        return emptyRead();
    const int error = errno;
    // A drive whose largest block is shorter than the read: nothing moved.
    if (error == EINVAL && m_blockSize == 0)
        return readOwnBuffer(buffer, length, bytesRead);
    if (error != ENOMEM)
        return readFailure(error);
    // The drive has passed the record: step back over it and read it whole.
    const DWORD back = operation(MTBSR, 1);
    return back == NO_ERROR ? readOwnBuffer(buffer, length, bytesRead) : back;
}

DWORD StTape::readOwnBuffer(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    // st refuses a read longer than the drive's largest block (EINVAL) or one it
    // has no buffer for (EOVERFLOW), both before the tape moves: try a shorter one.
    std::size_t request = m_blockSize > 0 ? m_blockSize
        : m_readLimit > 0                 ? m_readLimit
                                          : kLargestRecord;
    long got = 0;
    int error = 0;
    bool refused = false;
    for (;;) {
        if (m_longRecord.size() < request)
            m_longRecord.resize(request);
        got = m_system.read(m_fd, m_longRecord.data(), request);
        error = errno;
        refused = got < 0 && (error == EINVAL || error == EOVERFLOW);
        if (!refused || m_blockSize > 0 || request == 1)
            break;
        request = smallerRead(request);
    }
    // Later reads start where this one was taken.
    if (!refused && m_blockSize == 0)
        m_readLimit = request;
    if (got < 0) {
        // Longer than any read st takes: the drive has passed it and its bytes are lost.
        return error == ENOMEM ? ERROR_CRC : readFailure(error);
    }
    if (got == 0)
        return emptyRead();
    const std::size_t record = static_cast<std::size_t>(got);
    const std::size_t copied = record < length ? record : length;
    std::memcpy(buffer, m_longRecord.data(), copied);
    bytesRead = static_cast<std::uint32_t>(copied);
    return record > length ? ERROR_MORE_DATA : NO_ERROR;
}

DWORD StTape::identify(TapeIdentity &identity)
{
    identity.kind = "tape drive";
    std::vector<unsigned char> answer(96);
    const auto standard = ScsiInquiry::command(false, std::uint8_t(answer.size()));
    if (!askDrive(standard.data(), standard.size(), answer)
        || !ScsiInquiry::parseStandard(
            answer.data(), answer.size(), identity.vendor, identity.product, identity.revision))
        return ERROR_NOT_SUPPORTED;
    answer.assign(255, 0);
    const auto serial = ScsiInquiry::command(true, std::uint8_t(answer.size()));
    if (askDrive(serial.data(), serial.size(), answer))
        ScsiInquiry::parseSerialPage(answer.data(), answer.size(), identity.serial);
    return NO_ERROR;
}

SgDrive &StTape::sgDrive()
{
    if (!m_sgDrive)
        m_sgDrive.reset(new SgDrive(m_system, m_fd, m_path));
    return *m_sgDrive;
}

DWORD StTape::driveFacts(DriveFacts &facts)
{
    sgDrive().facts(facts);
    return facts.access.empty() ? NO_ERROR : ERROR_ACCESS_DENIED;
}

DWORD StTape::cartridge(CartridgeFacts &facts)
{
    sgDrive().cartridge(facts);
    return facts.known ? NO_ERROR : ERROR_NOT_SUPPORTED;
}

DWORD StTape::driveAlerts(TapeAlertFacts &alerts, ErrorCounterFacts &counters)
{
    sgDrive().alerts(alerts);
    sgDrive().counters(counters);
    return alerts.known ? NO_ERROR : ERROR_NOT_SUPPORTED;
}

DWORD StTape::readFailure(std::uint64_t block, ReadFailureFacts &failure)
{
    sgDrive().readFailure(block, failure);
    return failure.known ? NO_ERROR : ERROR_NOT_SUPPORTED;
}

DWORD StTape::eject()
{
    m_endOfData = -1;
    m_readLimit = 0;
    return operation(MTOFFL, 1);
}
