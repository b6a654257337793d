#pragma once
/**
 * @file
 * The commands a tape drive answers about itself and its cartridge, and the
 * parsers of their answers: the TapeAlert (0x2E) and read error counter
 * (0x03) log pages, READ BLOCK LIMITS, MODE SENSE's block descriptor and data
 * compression page, and READ ATTRIBUTE. Each parser reads no byte past the
 * length given, nor past the length the answer gives for itself.
 */
#include "platform/backend/drive_facts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ScsiPages {

/// LOG SENSE(10) for @p page, current cumulative values.
std::array<unsigned char, 10> logSenseCommand(std::uint8_t page, std::uint16_t allocationLength);

/// The flags of a TapeAlert page; false when it is not page 0x2E.
bool parseTapeAlert(const unsigned char *data, std::size_t length, TapeAlertFacts &alerts);
/// The flag's name ("clean now"); "flag N" for the reserved ones.
std::string tapeAlertName(int flag);
/// The drive asks to be cleaned before it reads on (clean now, 20).
bool asksCleaning(const TapeAlertFacts &alerts);
/// Flags that say more reads put the tape at risk: media (4), mechanical cartridge failure (13,
/// 14: a snapped tape).
bool tapeAtRisk(const TapeAlertFacts &alerts);

/// The read error counter page; false when it is not page 0x03.
bool parseErrorCounters(const unsigned char *data, std::size_t length, ErrorCounterFacts &counters);

/// READ BLOCK LIMITS.
std::array<unsigned char, 6> blockLimitsCommand();
/// Its 6-byte answer; false when shorter.
bool parseBlockLimits(const unsigned char *data, std::size_t length, std::uint32_t &maxBlock,
    std::uint32_t &minBlock);

/// MODE SENSE(6) for @p page (0x0F: data compression), with the block descriptor.
std::array<unsigned char, 6> modeSenseCommand(std::uint8_t page, std::uint8_t allocationLength);
/**
 * The block descriptor (density, block length), the write protection and, when
 * the answer holds page 0x0F, whether compression is on; false without a block
 * descriptor.
 */
bool parseModeSense(const unsigned char *data, std::size_t length, DriveFacts &facts);
/// "LTO-4" for a density code; empty when not known.
std::string densityName(std::uint8_t density);

/// READ ATTRIBUTE, attribute values of partition 0 from attribute 0.
std::array<unsigned char, 16> readAttributeCommand(std::uint32_t allocationLength);
/// Barcode, medium serial, manufacturer, manufacture date, load count; false when the
/// answer is too short to be one.
bool parseAttributes(const unsigned char *data, std::size_t length, CartridgeFacts &cartridge);

/// READ POSITION, short form; and its block number, false when the answer has none.
std::array<unsigned char, 10> readPositionCommand();
bool parseReadPosition(const unsigned char *data, std::size_t length, std::int64_t &block);

/// READ(6) of one variable-length record of at most @p length bytes.
std::array<unsigned char, 6> readCommand(std::uint32_t length);

} // namespace ScsiPages
