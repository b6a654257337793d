#pragma once
/**
 * @file
 * What the st driver does not pass on, asked of the drive itself through SCSI
 * pass-through (SG_IO): the sense data of a failed read, TapeAlert, the error
 * counters, block limits, density and compression, the cartridge's memory.
 *
 * st gives a failed read only EIO and sends the sense to the kernel log, so
 * the record is read again through SG_IO at its position: READ POSITION
 * before, LOCATE to the record, READ, READ POSITION after, and then the tape
 * goes back where it stood through st's own seek, so that st knows where it is.
 *
 * Commands go to the generic node /dev/sgN, which needs only read and write
 * access to it; when it cannot be opened, to the st node, which takes SG_IO
 * only from a process with CAP_SYS_RAWIO. What could not be asked says why.
 */
#include "platform/backend/drive_facts.h"
#include "platform/st/st_system.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SgDrive
{
public:
    /// The drive behind the st node @p stPath, open as @p stFd (neither is owned).
    SgDrive(StSystem &system, int stFd, std::string stPath);
    ~SgDrive();
    SgDrive(const SgDrive &) = delete;
    SgDrive &operator=(const SgDrive &) = delete;

    /// All the drive tells without reading the tape; what it could not ask stays unknown.
    void facts(DriveFacts &facts);
    /// TapeAlert (reading it clears the flags in the drive).
    void alerts(TapeAlertFacts &alerts);
    void counters(ErrorCounterFacts &counters);
    /// The cartridge memory (READ ATTRIBUTE).
    void cartridge(CartridgeFacts &cartridge);
    /// The record @p block (0-based) read again for its sense; the tape is left where it was.
    void readFailure(std::uint64_t block, ReadFailureFacts &failure);

private:
    /// Opens the generic node once; false (m_genericProblem says why) when it cannot.
    bool reach();
    /// One command with data in; false when it did not complete, @p sense holding its sense.
    bool command(const unsigned char *cdb, std::size_t cdbLength, std::vector<unsigned char> &data,
        std::vector<unsigned char> &sense);
    /// As command(), with why it failed in words.
    bool ask(const unsigned char *cdb, std::size_t cdbLength, std::vector<unsigned char> &data,
        std::string &problem);
    bool readPosition(std::int64_t &block);

    StSystem &m_system;
    int m_stFd;
    std::string m_stPath;
    std::string m_genericNode;
    int m_genericFd = -1;
    bool m_tried = false;
    std::string m_genericProblem;
    std::string m_access; ///< why the last command did not reach the drive; empty when it did
};
