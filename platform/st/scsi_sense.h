#pragma once
/**
 * @file
 * SCSI sense data: fixed (0x70, 0x71) and descriptor (0x72, 0x73) format, the
 * names of the sense keys and of the additional sense codes a tape drive
 * answers, and what each means for the person at the drive.
 */
#include "platform/backend/drive_facts.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ScsiSense {

/**
 * Decodes @p length bytes of sense data. Fields past @p length, or past the
 * length the data gives for itself, stay unset; @c present is false when the
 * response code is neither format.
 */
SenseFacts decode(const unsigned char *data, std::size_t length);

/// "MEDIUM ERROR" and the others, as the standard writes them.
std::string keyName(std::uint8_t key);

/// The name of ASC/ASCQ, lower case; "ASC 0xNN, ASCQ 0xNN" when it is not one a tape drive gives.
std::string codeName(std::uint8_t asc, std::uint8_t ascq);

/// What the answer means for the person at the drive.
SenseAction classify(
    std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, bool filemark, bool endOfMedium);

/// One sentence on what to do about @p action; empty for None and Filemark.
std::string advice(SenseAction action);

} // namespace ScsiSense
