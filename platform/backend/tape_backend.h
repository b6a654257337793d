#pragma once
/**
 * @file
 * Layer platform/backend (library tarnwick_backend): Win32 base types, handles
 * and this interface. Uses nothing of the program; every other layer may use it.
 *
 * The interface that both tape backends implement. The Win32-named calls in
 * win32_tape.cpp check their arguments, call one of these and set the last
 * error; the backends deal only in Windows error codes (NO_ERROR on success).
 */
#include "platform/backend/drive_facts.h"
#include "platform/backend/win32_handles.h"

#include <cstdint>
#include <string>

/// The medium's capacity as a backend reports it.
struct TapeMediaInfo
{
    std::int64_t capacity = 0; ///< bytes
    std::int64_t remaining = 0; ///< bytes free after the recorded data
    std::uint32_t blockSize = 0;
    std::uint32_t partitionCount = 1;
    bool writeProtected = true;
};

/// Who a tape device is; empty strings where it does not say.
struct TapeIdentity
{
    std::string kind; ///< "tape drive" or "virtual tape"
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
};

/// One open tape device.
class TapeBackend : public HandleObject
{
public:
    /// The largest record a backend transfers: what a SCSI tape drive can (24-bit
    /// transfer length). A reader that keeps every record whole reads this much.
    static constexpr std::uint32_t kLargestRecord = 0xFFFFFF;

    /// Loads (@p unload false) or unloads the medium.
    virtual DWORD prepare(bool unload) = 0;
    /// NO_ERROR when the drive is ready with a medium.
    virtual DWORD status() = 0;
    /// Fills @p info; leaves it alone on failure.
    virtual DWORD mediaInfo(TapeMediaInfo &info) = 0;
    /// 0 = variable block mode.
    virtual DWORD setBlockSize(std::uint32_t blockSize) = 0;
    virtual DWORD spaceToEndOfData() = 0;
    /// Positions before block @p block (0 = rewind).
    virtual DWORD seekBlock(std::uint64_t block) = 0;
    /// Records and tape marks before the current position.
    virtual DWORD position(std::uint64_t &block) = 0;
    /**
     * Moves over @p count records, backwards when it is negative, as a drive
     * spaces blocks: a tape mark on the way is crossed and ends the move with
     * ERROR_FILEMARK_DETECTED; the start of the tape ends it with
     * ERROR_BEGINNING_OF_MEDIA, the end of data with ERROR_NO_DATA_DETECTED.
     */
    virtual DWORD spaceRecords(std::int64_t count) = 0;
    /**
     * Reads the next object into @p buffer (at most @p length bytes) and sets
     * @p bytesRead. Returns NO_ERROR, ERROR_MORE_DATA, ERROR_CRC,
     * ERROR_FILEMARK_DETECTED, ERROR_NO_DATA_DETECTED, ERROR_END_OF_MEDIA or a
     * device error.
     */
    virtual DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) = 0;
    virtual DWORD eject() = 0;
    /// Fills @p identity as far as the device tells.
    virtual DWORD identify(TapeIdentity &identity) = 0;

    /// What the drive tells of itself and its cartridge; ERROR_NOT_SUPPORTED for a
    /// device with nothing to tell (the virtual tape).
    virtual DWORD driveFacts(DriveFacts &facts)
    {
        (void)facts;
        return ERROR_NOT_SUPPORTED;
    }
    /// The cartridge's memory alone: nothing else is read, TapeAlert stays set.
    virtual DWORD cartridge(CartridgeFacts &facts)
    {
        (void)facts;
        return ERROR_NOT_SUPPORTED;
    }
    /// TapeAlert (read, and so cleared, in the drive) and the read error counters.
    virtual DWORD driveAlerts(TapeAlertFacts &alerts, ErrorCounterFacts &counters)
    {
        (void)alerts, (void)counters;
        return ERROR_NOT_SUPPORTED;
    }
    /// The sense of a read of record @p block that failed; the position is kept.
    virtual DWORD readFailure(std::uint64_t block, ReadFailureFacts &failure)
    {
        (void)block, (void)failure;
        return ERROR_NOT_SUPPORTED;
    }
};
