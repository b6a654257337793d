#pragma once
/**
 * @file
 * The st backend: a SCSI tape drive through the Linux st driver.
 *
 * The node is opened with O_NONBLOCK (else open() waits up to two minutes
 * for a medium) and read-only: the program never writes to a tape. The st
 * driver refuses a second open by itself (EBUSY, ERROR_SHARING_VIOLATION).
 *
 * Calls map as follows: load MTLOAD, unload and eject MTOFFL, status
 * MTIOCGET, block size MTSETBLK, end of data MTEOM, block 0 MTREW, other
 * blocks MTSEEK, position MTIOCPOS, media information SCSI LOG SENSE page
 * 0x31 through SG_IO (on the st node, or on its generic node /dev/sgN when
 * the st node refuses SG_IO for want of CAP_SYS_RAWIO).
 *
 * A read returns one record. A filemark reads as 0 bytes
 * (ERROR_FILEMARK_DETECTED). EIO is told apart with MTIOCGET: end of data
 * gives ERROR_NO_DATA_DETECTED, else a medium error ERROR_CRC. A record
 * longer than the buffer fails with ENOMEM after the drive has passed it: the
 * backend spaces back one record, reads it again into a 16 MiB buffer (the
 * largest SCSI tape block), and hands over the first bytes with
 * ERROR_MORE_DATA. In fixed block mode a read asks for one block.
 */
#include "platform/st_system.h"
#include "platform/tape_backend.h"

#include <memory>
#include <string>
#include <vector>

class StTape : public TapeBackend
{
public:
    /// Largest record a SCSI tape drive transfers (24-bit transfer length).
    static constexpr std::size_t kLargestRecord = 0x1000000;

    /// Opens the tape node @p path; null with the reason in @p error when it cannot.
    static std::unique_ptr<StTape> open(
        const std::string &path, DWORD &error, StSystem &system = linuxStSystem());
    ~StTape() override;

    DWORD prepare(bool unload) override;
    DWORD status() override;
    DWORD mediaInfo(TapeMediaInfo &info) override;
    DWORD setBlockSize(std::uint32_t blockSize) override;
    DWORD spaceToEndOfData() override;
    DWORD seekBlock(std::uint64_t block) override;
    DWORD position(std::uint64_t &block) override;
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override;
    DWORD eject() override;

private:
    StTape(StSystem &system, int fd, std::string path);
    DWORD operation(short op, int count);
    DWORD readWholeRecord(void *buffer, std::uint32_t length, std::uint32_t &bytesRead);
    DWORD readFailure(int error);
    bool logSense(int fd, std::vector<unsigned char> &answer);

    StSystem &m_system;
    int m_fd;
    std::string m_path;
    std::uint32_t m_blockSize = 0;
    std::vector<unsigned char> m_longRecord; ///< allocated on the first over-long record
};
