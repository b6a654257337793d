#include "platform/st/scsi_changer.h"

#include <algorithm>

namespace ScsiChanger {

namespace {

std::uint16_t be16(const unsigned char *p)
{
    return std::uint16_t(p[0] << 8 | p[1]);
}
std::uint32_t be24(const unsigned char *p)
{
    return std::uint32_t(p[0] << 16 | p[1] << 8 | p[2]);
}
unsigned char hi(std::uint32_t value)
{
    return static_cast<unsigned char>(value >> 8);
}
unsigned char lo(std::uint32_t value)
{
    return static_cast<unsigned char>(value);
}

// Printable ASCII, blanks and NULs that pad the field trimmed.
std::string text(const unsigned char *data, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i)
        out += data[i] > 0x20 && data[i] < 0x7F ? char(data[i]) : ' ';
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

constexpr std::size_t kHeader = 8;
constexpr std::size_t kPageHeader = 8;
constexpr std::size_t kDescriptorBase = 12; // address, flags, sense, source
constexpr std::size_t kVolumeTag = 36; // 32 bytes of barcode, 4 of sequence number

// One descriptor of @p size bytes; the page's flags say which tags it carries.
void parseDescriptor(const unsigned char *d, std::size_t size, ElementType type, bool primaryTag,
    bool alternateTag, Element &element)
{
    element.type = type;
    element.address = be16(d);
    element.full = d[2] & 0x01;
    element.exception = d[2] & 0x04;
    element.accessible = type == ElementType::Transport || (d[2] & 0x08);
    element.asc = d[4];
    element.ascq = d[5];
    element.medium = static_cast<MediumType>(d[9] & 0x07);
    element.sourceValid = d[9] & 0x80;
    element.source = element.sourceValid ? be16(d + 10) : 0;
    std::size_t at = kDescriptorBase;
    if (primaryTag && at + kVolumeTag <= size)
        element.barcode = text(d + at, 32);
    at += primaryTag ? kVolumeTag : 0;
    at += alternateTag ? kVolumeTag : 0;
    // The device identifier follows the tags: code set, type, reserved, length.
    if (type == ElementType::DataTransfer && at + 4 <= size && d[at + 3] > 0
        && at + 4 + d[at + 3] <= size) {
        const std::size_t idLength = d[at + 3];
        element.identifier = text(d + at + 4, idLength);
        // Vendor-ID form: 8 bytes vendor, 16 product, then the serial number.
        const bool vendorForm = (d[at + 1] & 0x0F) == 1 && idLength > 24;
        element.serial = vendorForm ? text(d + at + 28, idLength - 24) : element.identifier;
    }
}

} // namespace

std::array<unsigned char, 6> initializeElementStatus()
{
    return { 0x07, 0, 0, 0, 0, 0 };
}

std::array<unsigned char, 6> modeSenseAddressAssignment(std::uint8_t allocationLength)
{
    return { 0x1A, 0x08, 0x1D, 0x00, allocationLength, 0x00 };
}

std::array<unsigned char, 12> readElementStatus(ElementType type, std::uint16_t start,
    std::uint16_t count, bool volumeTags, bool deviceIds, std::uint32_t allocationLength)
{
    return { 0xB8, static_cast<unsigned char>((volumeTags ? 0x10 : 0) | std::uint8_t(type)),
        hi(start), lo(start), hi(count), lo(count), static_cast<unsigned char>(deviceIds ? 1 : 0),
        lo(allocationLength >> 16), hi(allocationLength), lo(allocationLength), 0, 0 };
}

std::array<unsigned char, 12> moveMedium(
    std::uint16_t transport, std::uint16_t source, std::uint16_t destination)
{
    return { 0xA5, 0, hi(transport), lo(transport), hi(source), lo(source), hi(destination),
        lo(destination), 0, 0, 0, 0 };
}

bool parseAddressAssignment(
    const unsigned char *data, std::size_t length, AddressAssignment &assignment)
{
    if (length < 4)
        return false;
    const std::size_t page = 4 + std::size_t(data[3]); // past the block descriptors
    if (page + 18 > length || (data[page] & 0x3F) != 0x1D || data[page + 1] < 16)
        return false;
    const unsigned char *p = data + page + 2;
    assignment.firstTransport = be16(p);
    assignment.transports = be16(p + 2);
    assignment.firstStorage = be16(p + 4);
    assignment.storages = be16(p + 6);
    assignment.firstImportExport = be16(p + 8);
    assignment.importExports = be16(p + 10);
    assignment.firstDataTransfer = be16(p + 12);
    assignment.dataTransfers = be16(p + 14);
    return true;
}

std::size_t elementStatusLength(const unsigned char *data, std::size_t length)
{
    return length < kHeader ? kHeader : kHeader + be24(data + 5);
}

bool parseElementStatus(
    const unsigned char *data, std::size_t length, std::vector<Element> &elements)
{
    if (length < kHeader)
        return false;
    // A changer reports what it has even when the buffer was shorter: read only
    // what both the header and the buffer hold.
    const std::size_t end = std::min(length, elementStatusLength(data, length));
    std::size_t at = kHeader;
    while (at + kPageHeader <= end) {
        const unsigned char *page = data + at;
        const auto type = static_cast<ElementType>(page[0] & 0x0F);
        if (type < ElementType::Transport || type > ElementType::DataTransfer)
            return false;
        const std::size_t size = be16(page + 2);
        const std::size_t bytes = be24(page + 5);
        if (size < kDescriptorBase || at + kPageHeader + bytes > end)
            return false;
        for (std::size_t d = 0; d + size <= bytes; d += size) {
            Element element;
            parseDescriptor(
                page + kPageHeader + d, size, type, page[1] & 0x80, page[1] & 0x40, element);
            elements.push_back(element);
        }
        at += kPageHeader + bytes;
    }
    return at == end;
}

bool isCleaning(const Element &element)
{
    return element.medium == MediumType::Cleaning || element.barcode.rfind("CLN", 0) == 0;
}

} // namespace ScsiChanger
