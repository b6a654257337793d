#pragma once
/**
 * @file
 * The commands a SCSI medium changer (a tape library's robot) answers, and
 * decoders for its answers: READ ELEMENT STATUS (with or without volume tags
 * and device identifiers) and the element address assignment mode page.
 * Pure functions, so they can be tested against recorded answers.
 */
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ScsiChanger {

/// The element types as the changer numbers them.
enum class ElementType : std::uint8_t {
    All = 0,
    Transport = 1, ///< the robot's hand
    Storage = 2, ///< a slot
    ImportExport = 3, ///< a mail slot the operator reaches from outside
    DataTransfer = 4, ///< a drive
};

/// What the changer says a cartridge is (the medium type of an element).
enum class MediumType : std::uint8_t {
    Unspecified = 0,
    Data = 1,
    Cleaning = 2,
    Diagnostic = 3,
    WriteOnce = 4,
};

/// One element of a READ ELEMENT STATUS answer.
struct Element
{
    ElementType type = ElementType::Storage;
    std::uint16_t address = 0;
    bool full = false;
    bool exception = false; ///< the element is in an abnormal state (asc/ascq say why)
    bool accessible = true; ///< the robot can reach it
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    MediumType medium = MediumType::Unspecified;
    bool sourceValid = false; ///< the cartridge's last home is known
    std::uint16_t source = 0; ///< that home's element address
    std::string barcode; ///< primary volume tag, blanks trimmed; empty when none
    std::string identifier; ///< a drive's device identifier (DVCID), printable text
    std::string serial; ///< the drive's serial number within that identifier
};

/// The element address assignment page (0x1D): the first address and count of each type.
struct AddressAssignment
{
    std::uint16_t firstTransport = 0, transports = 0;
    std::uint16_t firstStorage = 0, storages = 0;
    std::uint16_t firstImportExport = 0, importExports = 0;
    std::uint16_t firstDataTransfer = 0, dataTransfers = 0;
};

std::array<unsigned char, 6> initializeElementStatus();
/// MODE SENSE(6) of page 0x1D without block descriptors.
std::array<unsigned char, 6> modeSenseAddressAssignment(std::uint8_t allocationLength);
/// READ ELEMENT STATUS of @p count elements from @p start; @p volumeTags asks for
/// barcodes, @p deviceIds for the drives' identifiers.
std::array<unsigned char, 12> readElementStatus(ElementType type, std::uint16_t start,
    std::uint16_t count, bool volumeTags, bool deviceIds, std::uint32_t allocationLength);
std::array<unsigned char, 12> moveMedium(
    std::uint16_t transport, std::uint16_t source, std::uint16_t destination);

/// Decodes a MODE SENSE(6) answer holding page 0x1D; false when it is not that page
/// or is cut short.
bool parseAddressAssignment(
    const unsigned char *data, std::size_t length, AddressAssignment &assignment);

/// Decodes a READ ELEMENT STATUS answer into @p elements (appended). False when the
/// answer is malformed: a page or descriptor running past @p length or past what the
/// header says, a descriptor too short for its address and flags.
bool parseElementStatus(
    const unsigned char *data, std::size_t length, std::vector<Element> &elements);

/// The bytes a READ ELEMENT STATUS answer says it holds in all (header included),
/// so a caller whose buffer was too small can ask again with enough.
std::size_t elementStatusLength(const unsigned char *data, std::size_t length);

/// A cleaning cartridge: the changer says so, or its barcode starts with CLN.
bool isCleaning(const Element &element);

} // namespace ScsiChanger
