#pragma once
/**
 * @file
 * SCSI INQUIRY, the drive's answer to "who are you": the command, and the
 * vendor, product, revision and serial number in its answers (the standard
 * data and the unit serial number page 0x80).
 */
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ScsiInquiry {

/// The 6-byte INQUIRY command; @p serialPage asks for the unit serial number page.
std::array<unsigned char, 6> command(bool serialPage, std::uint8_t allocationLength);

/// Vendor (bytes 8-15), product (16-31) and revision (32-35) of standard
/// INQUIRY data, blanks trimmed. False when @p length is too short for them.
bool parseStandard(const unsigned char *data, std::size_t length, std::string &vendor,
    std::string &product, std::string &revision);

/// The serial number of page 0x80, blanks trimmed; false when the answer is not that page
/// or runs past @p length.
bool parseSerialPage(const unsigned char *data, std::size_t length, std::string &serial);

} // namespace ScsiInquiry
