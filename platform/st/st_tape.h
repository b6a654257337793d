#pragma once
/**
 * @file
 * Layer platform/st (library tarnwick_backend_st): the drive backend. Uses
 * platform/backend only; only the facade (platform/) opens it.
 *
 * The st backend: a SCSI tape drive through the Linux st driver.
 *
 * The node is opened with O_NONBLOCK (else open() waits up to two minutes
 * for a medium) and read-only: the program never writes to a tape. The st
 * driver refuses a second open by itself (EBUSY, ERROR_SHARING_VIOLATION).
 *
 * Calls map as follows: load MTLOAD, unload and eject MTOFFL, status
 * MTIOCGET, block size MTSETBLK, end of data MTEOM, block 0 MTREW, other
 * blocks MTSEEK, position MTIOCPOS, spacing records MTFSR / MTBSR, media information SCSI LOG SENSE
 * page 0x31 through SG_IO (on the st node, or on its generic node /dev/sgN when the st node refuses
 * SG_IO for want of CAP_SYS_RAWIO), identity SCSI INQUIRY and its serial number page the same way.
 *
 * A read returns one record; in fixed block mode it asks for one block.
 * Nothing st puts in the caller's buffer past the record stays there: st may
 * read straight into that buffer, and a drive or transport that sends more
 * than the record would leave its bytes. A buffer of up to kClearedRead bytes
 * is read into and zeroed past the record afterwards; a longer one (a master's
 * reads, up to the largest record) gets only the record's bytes, copied from
 * a buffer of the backend's own, so a small record does not cost a clearing
 * of megabytes.
 *
 * st reports a filemark, and the end of data right after one, as a read of 0
 * bytes; the end of data elsewhere (a blank tape, a tape whose last record
 * has no filemark) and a medium error both as EIO. They are told apart with
 * MTIOCGET (GMT_EOD) and, for EIO, with the position of the end of data
 * that spaceToEndOfData() found: a read that fails there is the end of
 * data, elsewhere a data error (ERROR_CRC).
 *
 * A record longer than the buffer fails with ENOMEM after the drive has
 * passed it: the backend spaces back one record and reads it again into a
 * buffer of its own. st refuses (EINVAL, without moving the tape) a read
 * longer than the drive's largest block, so that read starts at the largest
 * SCSI record and halves until st takes it; the caller gets the first bytes
 * with ERROR_MORE_DATA. A drive whose largest block is shorter than the
 * caller's buffer is read the same way. The length st took is kept until the
 * next load or eject: later reads ask for no more, so a drive with a small
 * largest block is not asked for refused lengths on every record.
 *
 * The capacity page counts whole MiB: see StMapping::mediaFigures() for how
 * the known end of data corrects a tape with less than 1 MiB recorded.
 */
#include "platform/backend/tape_backend.h"
#include "platform/st/sg_drive.h"
#include "platform/st/st_system.h"

#include <memory>
#include <string>
#include <vector>

class StTape : public TapeBackend
{
public:
    /// Longest caller's buffer st reads into directly. It is cleared past the
    /// record after each read, which for a longer one costs more than copying
    /// the record from the backend's own buffer.
    static constexpr std::uint32_t kClearedRead = 1u << 20;

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
    DWORD spaceRecords(std::int64_t count) override;
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override;
    DWORD eject() override;
    DWORD identify(TapeIdentity &identity) override;
    DWORD driveFacts(DriveFacts &facts) override;
    DWORD driveAlerts(TapeAlertFacts &alerts, ErrorCounterFacts &counters) override;
    DWORD cartridge(CartridgeFacts &facts) override;
    DWORD readFailure(std::uint64_t block, ReadFailureFacts &failure) override;

private:
    StTape(StSystem &system, int fd, std::string path);
    DWORD operation(short op, int count);
    /// Reads into the caller's buffer; @p handed is how much of it st was given.
    DWORD readRecord(
        void *buffer, std::uint32_t length, std::uint32_t &bytesRead, std::uint32_t &handed);
    DWORD readOwnBuffer(void *buffer, std::uint32_t length, std::uint32_t &bytesRead);
    DWORD emptyRead();
    DWORD readFailure(int error);
    bool scsiIn(int fd, const unsigned char *command, std::size_t commandLength,
        std::vector<unsigned char> &answer);
    /// A SCSI command with data in, on the st node or else on its generic node.
    bool askDrive(const unsigned char *command, std::size_t commandLength,
        std::vector<unsigned char> &answer);
    SgDrive &sgDrive();

    StSystem &m_system;
    int m_fd;
    std::string m_path;
    std::uint32_t m_blockSize = 0;
    /// Records and marks before the end of data, -1 until spaceToEndOfData() finds it.
    std::int64_t m_endOfData = -1;
    std::vector<unsigned char> m_longRecord; ///< allocated on the first read that needs it
    /// The length of the last read st took in m_longRecord; 0 before the first.
    std::size_t m_readLimit = 0;
    std::unique_ptr<SgDrive> m_sgDrive; ///< opened on the first question beyond st's
};
