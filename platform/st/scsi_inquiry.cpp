#include "platform/st/scsi_inquiry.h"

namespace ScsiInquiry {

namespace {

// Printable ASCII only, without the blanks that pad the fields.
std::string field(const unsigned char *data, std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += data[i] >= 0x20 && data[i] < 0x7F ? char(data[i]) : ' ';
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::array<unsigned char, 6> command(bool serialPage, std::uint8_t allocationLength)
{
    return { 0x12, static_cast<unsigned char>(serialPage ? 0x01 : 0x00),
        static_cast<unsigned char>(serialPage ? 0x80 : 0x00), 0x00, allocationLength, 0x00 };
}

bool parseStandard(const unsigned char *data, std::size_t length, std::string &vendor,
    std::string &product, std::string &revision)
{
    if (length < 36)
        return false;
    vendor = field(data + 8, 8);
    product = field(data + 16, 16);
    revision = field(data + 32, 4);
    return true;
}

bool parseSerialPage(const unsigned char *data, std::size_t length, std::string &serial)
{
    if (length < 4 || data[1] != 0x80 || std::size_t(data[3]) + 4 > length)
        return false;
    serial = field(data + 4, data[3]);
    return true;
}

} // namespace ScsiInquiry
