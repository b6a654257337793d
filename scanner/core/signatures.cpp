#include "scanner/core/signatures.h"

#include "scanner/core/amanda_header.h"
#include "scanner/core/decoder.h"
#include "scanner/core/dump_volume.h"
#include "scanner/core/mtf_reader.h"
#include "scanner/core/tape_labels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace Quorlin {
namespace {

constexpr std::size_t tarBlock = 512;
constexpr std::size_t checksumOffset = 148;
constexpr std::size_t checksumLength = 8;

bool startsWith(
    const unsigned char *data, std::size_t available, const char *magic, std::size_t length)
{
    return available >= length && std::memcmp(data, magic, length) == 0;
}

// The checksum field holds octal digits, possibly led by blanks, ended by NUL
// or blank. Returns -1 when it does not look like that, which rejects almost
// every non-header block before any summing.
long parseChecksumField(const unsigned char *field)
{
    std::size_t i = 0;
    while (i < checksumLength && field[i] == ' ')
        ++i;
    long value = 0;
    std::size_t digits = 0;
    for (; i < checksumLength && field[i] >= '0' && field[i] <= '7'; ++i, ++digits)
        value = value * 8 + (field[i] - '0');
    if (digits == 0)
        return -1;
    for (; i < checksumLength; ++i) {
        if (field[i] != ' ' && field[i] != 0)
            return -1;
    }
    return value;
}

// Old binary cpio has a two-byte magic only, which random data matches every
// 32 KiB; the header around it must make sense too: a known file type and a
// NUL-terminated name of printable bytes.
bool isBinaryCpioHeader(const unsigned char *data, std::size_t available)
{
    constexpr std::size_t headerLength = 26;
    if (available < headerLength + 2)
        return false;
    const bool bigEndian = data[0] == 0x71;
    const auto word = [&](std::size_t index) {
        const unsigned high = data[2 * index + (bigEndian ? 0 : 1)];
        const unsigned low = data[2 * index + (bigEndian ? 1 : 0)];
        return (high << 8) | low;
    };
    switch (word(3) & 0170000) {
    case 0010000: // fifo
    case 0020000: // character device
    case 0040000: // directory
    case 0060000: // block device
    case 0100000: // regular file
    case 0120000: // symbolic link
    case 0140000: // socket
        break;
    default:
        return false;
    }
    const std::size_t nameSize = word(10);
    if (nameSize < 2 || nameSize > 4096)
        return false;
    const unsigned char *name = data + headerLength;
    const std::size_t shown = std::min(nameSize - 1, available - headerLength);
    for (std::size_t i = 0; i < shown; ++i) {
        if (name[i] < 0x20 || name[i] == 0x7f)
            return false;
    }
    return headerLength + nameSize > available || name[nameSize - 1] == 0;
}

bool allIn(const unsigned char *data, std::size_t length, const char *digits)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] == 0 || !std::strchr(digits, data[i]))
            return false;
    }
    return true;
}

unsigned long number(const unsigned char *data, std::size_t length, int base)
{
    return std::strtoul(
        std::string(reinterpret_cast<const char *>(data), length).c_str(), nullptr, base);
}

bool isNameSize(unsigned long size)
{
    return size >= 2 && size <= 4096;
}

// "070701"/"070702": thirteen 8-digit hex fields; "070707": octal fields.
bool isAsciiCpioHeader(const unsigned char *data, std::size_t available)
{
    if (data[5] == '7') {
        constexpr std::size_t headerLength = 76;
        return available >= headerLength && allIn(data + 6, headerLength - 6, "01234567")
            && isNameSize(number(data + 59, 6, 8));
    }
    constexpr std::size_t headerLength = 110;
    return available >= headerLength && allIn(data + 6, headerLength - 6, "0123456789abcdefABCDEF")
        && isNameSize(number(data + 94, 8, 16));
}

bool isZipHeader(const unsigned char *data, std::size_t available)
{
    constexpr std::size_t headerLength = 30;
    if (available < headerLength || std::memcmp(data, "PK\x03\x04", 4) != 0)
        return false;
    const unsigned version = data[4] | data[5] << 8;
    const unsigned method = data[8] | data[9] << 8;
    const unsigned nameLength = data[26] | data[27] << 8;
    static const unsigned methods[] = { 0, 1, 6, 8, 9, 12, 14, 93, 95, 98, 99 };
    return version <= 100 && nameLength > 0
        && std::find(std::begin(methods), std::end(methods), method) != std::end(methods);
}

} // namespace

bool isTarHeader(const unsigned char *header, std::size_t available)
{
    if (available < tarBlock || header[0] == 0)
        return false;
    const long stored = parseChecksumField(header + checksumOffset);
    if (stored <= 0)
        return false;
    // Old writers summed signed chars; accept either sum.
    long unsignedSum = 0;
    long signedSum = 0;
    for (std::size_t i = 0; i < tarBlock; ++i) {
        const bool inField = i >= checksumOffset && i < checksumOffset + checksumLength;
        const unsigned char byte = inField ? ' ' : header[i];
        unsignedSum += byte;
        signedSum += static_cast<signed char>(byte);
    }
    return stored == unsignedSum || stored == signedSum;
}

bool allZero(const unsigned char *data, std::size_t length)
{
    // Word-wise: this runs over every byte outside the archives.
    std::size_t i = 0;
    for (; i + sizeof(unsigned long long) <= length; i += sizeof(unsigned long long)) {
        unsigned long long word;
        std::memcpy(&word, data + i, sizeof word);
        if (word != 0)
            return false;
    }
    for (; i < length; ++i) {
        if (data[i] != 0)
            return false;
    }
    return true;
}

Signature detectSignature(const unsigned char *data, std::size_t available)
{
    if (available < 6)
        return Signature::None;
    switch (data[0]) {
    case '0':
        if (startsWith(data, available, "07070", 5)
            && (data[5] == '1' || data[5] == '2' || data[5] == '7')
            && isAsciiCpioHeader(data, available))
            return Signature::Cpio;
        break;
    case 0x71:
    case 0xc7:
        if (((data[0] == 0x71 && data[1] == 0xc7) || (data[0] == 0xc7 && data[1] == 0x71))
            && isBinaryCpioHeader(data, available))
            return Signature::Cpio;
        break;
    case 'P':
        if (isZipHeader(data, available))
            return Signature::Zip;
        break;
    case 'A':
        if (isAmandaHeader(data, available))
            return Signature::Amanda;
        break;
    case 'T':
        if (isMtfTapeBlock(data, available))
            return Signature::Mtf;
        break;
    case 'V': // VOL1, HDR1, EOF1 and EOV1, in ASCII and in EBCDIC
    case 'H':
    case 'E':
    case 0xe5:
    case 0xc8:
    case 0xc5:
        if (isLabelGroupStart(data, available))
            return Signature::Label;
        break;
    default:
        break;
    }
    if (detectCompression(data, available) != Compression::None)
        return Signature::Compressed;
    if (isTarHeader(data, available))
        return Signature::Tar;
    if (isDumpVolumeHeader(data, available))
        return Signature::Dump;
    return Signature::None;
}

} // namespace Quorlin
