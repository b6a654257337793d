#pragma once
/**
 * @file
 * What a tape drive can tell beyond its data, in words a person reads: the
 * sense data of a failed read, the TapeAlert flags, the error counters, the
 * drive's limits and mode, and the cartridge's memory. A backend that cannot
 * ask (the virtual tape, a drive whose /dev/sgN the user may not open) leaves
 * the facts unknown and says why in the problem fields.
 */
#include <cstdint>
#include <string>
#include <vector>

/// What the person at the drive must do about a sense answer.
enum class SenseAction {
    None, ///< no error, or one the drive recovered from
    Filemark, ///< a tape mark: not an error
    EndOfData, ///< blank check or end of data: nothing more is recorded
    EndOfMedium, ///< the physical end of the tape
    MediumError, ///< the tape itself could not be read here
    HardwareError, ///< the drive failed
    WrongFormat, ///< this drive cannot read this cartridge's format
    NotReady, ///< no cartridge, or the drive is still loading
    PositionLost, ///< a reset or a cartridge change: where the tape stands is no longer known
    CleaningRequested, ///< the drive asks for a cleaning cartridge
    IllegalRequest, ///< the drive refused the command itself
    Other,
};

/// Decoded sense data, fixed or descriptor format.
struct SenseFacts
{
    bool present = false; ///< false when there was no sense data to decode
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::string keyName; ///< "MEDIUM ERROR"
    std::string ascName; ///< "unrecovered read error"; the numbers when not known
    std::string advice; ///< what to do, one sentence; empty when nothing is to be done
    bool filemark = false;
    bool endOfMedium = false;
    bool incorrectLength = false; ///< ILI: the record was not the length asked for
    bool informationValid = false;
    std::int64_t information = 0; ///< for a read: the residue, or the block
    SenseAction action = SenseAction::None;
};

/// The TapeAlert log page: flags 1 to 64.
struct TapeAlertFacts
{
    bool known = false;
    std::string problem; ///< why it is not known
    std::uint64_t flags = 0; ///< bit n-1 for flag n
    std::vector<std::string> names; ///< of the flags set, in flag order
    bool cleanNow = false; ///< the drive must be cleaned before it reads on
    bool tapeAtRisk = false; ///< more reads may harm the tape (media, snapped tape)
    bool has(int flag) const { return flag >= 1 && flag <= 64 && (flags >> (flag - 1)) & 1; }
};

/// The read error counter log page; -1 where the drive does not give a counter.
struct ErrorCounterFacts
{
    bool known = false;
    std::string problem;
    std::int64_t correctedFast = -1; ///< corrected without substantial delay
    std::int64_t correctedDelayed = -1; ///< corrected with possible delays
    std::int64_t rereads = -1; ///< total re-reads
    std::int64_t corrected = -1; ///< total errors corrected
    std::int64_t bytesProcessed = -1;
    std::int64_t uncorrected = -1; ///< total uncorrected errors
};

/// The cartridge's memory (READ ATTRIBUTE); empty or -1 where it does not say.
struct CartridgeFacts
{
    bool known = false;
    std::string problem;
    std::string barcode;
    std::string mediumSerial;
    std::string manufacturer;
    std::string manufactureDate; ///< as recorded, YYYYMMDD
    std::int64_t loadCount = -1;
};

/// Everything a drive says about itself and the loaded tape without reading it.
struct DriveFacts
{
    std::string genericNode; ///< /dev/sgN of the drive; empty when there is none
    /// Empty when SCSI commands reach the drive; else why not.
    std::string access;
    bool limitsKnown = false;
    std::uint32_t maxBlock = 0; ///< READ BLOCK LIMITS, bytes
    std::uint32_t minBlock = 0;
    std::int64_t adapterMaxKb = -1; ///< the adapter's largest transfer; -1 when not known
    std::int64_t adapterHwMaxKb = -1; ///< the largest its hardware takes
    bool modeKnown = false;
    std::uint8_t density = 0;
    std::string densityName; ///< "LTO-4"; empty when the code is not known
    std::uint32_t blockLength = 0; ///< 0: variable blocks
    bool writeProtected = false;
    int compression = -1; ///< 1 on, 0 off, -1 not known
    TapeAlertFacts alerts;
    ErrorCounterFacts counters;
    CartridgeFacts cartridge;
};

/// The sense of a read that failed, got by reading the record again past st.
struct ReadFailureFacts
{
    bool known = false;
    std::string problem; ///< why the sense could not be got, or what went wrong besides
    SenseFacts sense;
    std::int64_t positionBefore = -1; ///< READ POSITION before the read again
    std::int64_t positionAfter = -1; ///< and after it, before going back
    std::uint32_t readLength = 0; ///< what the read again asked for: a residue counts from it
};
