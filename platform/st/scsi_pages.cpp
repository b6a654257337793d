#include "platform/st/scsi_pages.h"

#include <functional>

namespace ScsiPages {

namespace {

std::uint64_t bigEndian(const unsigned char *data, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | data[i];
    return value;
}

/// Calls @p each(code, value, valueLength) for every whole parameter of log page @p page.
bool forEachParameter(const unsigned char *data, std::size_t length, std::uint8_t page,
    const std::function<void(unsigned, const unsigned char *, std::size_t)> &each)
{
    if (!data || length < 4 || (data[0] & 0x3F) != page)
        return false;
    const std::size_t pageEnd = 4 + bigEndian(data + 2, 2);
    const std::size_t end = pageEnd < length ? pageEnd : length;
    for (std::size_t at = 4; at + 4 <= end;) {
        const std::size_t valueLength = data[at + 3];
        if (at + 4 + valueLength > end)
            break;
        each(unsigned(bigEndian(data + at, 2)), data + at + 4, valueLength);
        at += 4 + valueLength;
    }
    return true;
}

const char *const kAlertNames[] = { "read warning", "write warning", "hard error", "media",
    "read failure", "write failure", "media life", "not data grade", "write protect", "no removal",
    "cleaning media", "unsupported format", "recoverable mechanical cartridge failure",
    "unrecoverable mechanical cartridge failure (snapped tape)", "memory chip in cartridge failure",
    "forced eject", "read only format", "tape directory corrupted on load", "nearing media life",
    "clean now", "clean periodic", "expired cleaning media", "invalid cleaning tape",
    "retension requested", "dual-port interface error", "cooling fan failure",
    "power supply failure", "power consumption", "drive maintenance", "hardware A", "hardware B",
    "interface", "eject media", "microcode update fail", "drive humidity", "drive temperature",
    "drive voltage", "predictive failure", "diagnostics required" };

struct Density
{
    std::uint8_t code;
    const char *name;
};

const Density kDensities[] = { { 0x13, "DDS" }, { 0x24, "DDS-2" }, { 0x25, "DDS-3" },
    { 0x26, "DDS-4" }, { 0x47, "DAT-72" }, { 0x40, "LTO-1" }, { 0x42, "LTO-2" }, { 0x44, "LTO-3" },
    { 0x46, "LTO-4" }, { 0x58, "LTO-5" }, { 0x5A, "LTO-6" }, { 0x5C, "LTO-7" },
    { 0x5D, "LTO-7 (M8)" }, { 0x5E, "LTO-8" }, { 0x60, "LTO-9" } };

/// An ASCII attribute, blanks and NULs that pad it trimmed.
std::string text(const unsigned char *data, std::size_t length)
{
    std::string value;
    for (std::size_t i = 0; i < length; ++i)
        value += data[i] >= 0x20 && data[i] < 0x7F ? char(data[i]) : ' ';
    const std::size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

} // namespace

std::array<unsigned char, 10> logSenseCommand(std::uint8_t page, std::uint16_t allocationLength)
{
    return { 0x4D, 0x00, static_cast<unsigned char>(0x40 | (page & 0x3F)), 0x00, 0x00, 0x00, 0x00,
        static_cast<unsigned char>(allocationLength >> 8),
        static_cast<unsigned char>(allocationLength & 0xFF), 0x00 };
}

bool parseTapeAlert(const unsigned char *data, std::size_t length, TapeAlertFacts &alerts)
{
    std::uint64_t flags = 0;
    if (!forEachParameter(data, length, 0x2E,
            [&flags](unsigned code, const unsigned char *value, std::size_t size) {
                if (code >= 1 && code <= 64 && size >= 1 && (value[0] & 1))
                    flags |= std::uint64_t(1) << (code - 1);
            }))
        return false;
    alerts.known = true;
    alerts.flags = flags;
    alerts.names.clear();
    for (int flag = 1; flag <= 64; ++flag) {
        if (alerts.has(flag))
            alerts.names.push_back(tapeAlertName(flag));
    }
    alerts.cleanNow = asksCleaning(alerts);
    alerts.tapeAtRisk = tapeAtRisk(alerts);
    return true;
}

std::string tapeAlertName(int flag)
{
    if (flag >= 1 && flag <= int(sizeof kAlertNames / sizeof *kAlertNames))
        return kAlertNames[flag - 1];
    switch (flag) {
    case 50:
        return "lost statistics";
    case 51:
        return "tape directory invalid at unload";
    case 52:
        return "tape system area write failure";
    case 53:
        return "tape system area read failure";
    case 54:
        return "no start of data";
    case 55:
        return "loading failure";
    case 56:
        return "unrecoverable unload failure";
    case 57:
        return "automation interface failure";
    case 58:
        return "firmware failure";
    default:
        return "flag " + std::to_string(flag);
    }
}

bool asksCleaning(const TapeAlertFacts &alerts)
{
    return alerts.has(20);
}

bool tapeAtRisk(const TapeAlertFacts &alerts)
{
    return alerts.has(4) || alerts.has(13) || alerts.has(14);
}

bool parseErrorCounters(const unsigned char *data, std::size_t length, ErrorCounterFacts &counters)
{
    ErrorCounterFacts found;
    if (!forEachParameter(data, length, 0x03,
            [&found](unsigned code, const unsigned char *value, std::size_t size) {
                if (size < 1 || size > 8)
                    return;
                // Counters are unsigned; one of 8 bytes past the signed range stays unknown.
                const std::int64_t count = size == 8 && (value[0] & 0x80)
                    ? -1
                    : static_cast<std::int64_t>(bigEndian(value, size));
                switch (code) {
                case 0:
                    found.correctedFast = count;
                    break;
                case 1:
                    found.correctedDelayed = count;
                    break;
                case 2:
                    found.rereads = count;
                    break;
                case 3:
                    found.corrected = count;
                    break;
                case 5:
                    found.bytesProcessed = count;
                    break;
                case 6:
                    found.uncorrected = count;
                    break;
                default:
                    break;
                }
            }))
        return false;
    found.known = true;
    counters = found;
    return true;
}

std::array<unsigned char, 6> blockLimitsCommand()
{
    return { 0x05, 0x00, 0x00, 0x00, 0x00, 0x00 };
}

bool parseBlockLimits(
    const unsigned char *data, std::size_t length, std::uint32_t &maxBlock, std::uint32_t &minBlock)
{
    if (!data || length < 6)
        return false;
    maxBlock = std::uint32_t(bigEndian(data + 1, 3));
    minBlock = std::uint32_t(bigEndian(data + 4, 2));
    return true;
}

std::array<unsigned char, 6> modeSenseCommand(std::uint8_t page, std::uint8_t allocationLength)
{
    return { 0x1A, 0x00, static_cast<unsigned char>(page & 0x3F), 0x00, allocationLength, 0x00 };
}

bool parseModeSense(const unsigned char *data, std::size_t length, DriveFacts &facts)
{
    if (!data || length < 4)
        return false;
    const std::size_t dataEnd = std::size_t(data[0]) + 1;
    const std::size_t end = dataEnd < length ? dataEnd : length;
    const std::size_t descriptors = data[3];
    if (descriptors < 8 || 4 + 8 > end)
        return false;
    facts.modeKnown = true;
    facts.writeProtected = data[2] & 0x80;
    facts.density = data[4];
    facts.densityName = densityName(data[4]);
    facts.blockLength = std::uint32_t(bigEndian(data + 9, 3));
    const std::size_t page = 4 + descriptors;
    if (page + 4 <= end && (data[page] & 0x3F) == 0x0F && data[page + 1] >= 2)
        facts.compression = (data[page + 2] & 0x80) ? 1 : 0;
    return true;
}

std::string densityName(std::uint8_t density)
{
    for (const Density &known : kDensities) {
        if (known.code == density)
            return known.name;
    }
    return {};
}

std::array<unsigned char, 16> readAttributeCommand(std::uint32_t allocationLength)
{
    return { 0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        static_cast<unsigned char>(allocationLength >> 24),
        static_cast<unsigned char>(allocationLength >> 16),
        static_cast<unsigned char>(allocationLength >> 8),
        static_cast<unsigned char>(allocationLength & 0xFF), 0x00, 0x00 };
}

bool parseAttributes(const unsigned char *data, std::size_t length, CartridgeFacts &cartridge)
{
    if (!data || length < 4)
        return false;
    const std::size_t listEnd = 4 + bigEndian(data, 4);
    const std::size_t end = listEnd < length ? listEnd : length;
    CartridgeFacts found;
    for (std::size_t at = 4; at + 5 <= end;) {
        const unsigned id = unsigned(bigEndian(data + at, 2));
        const std::size_t size = std::size_t(bigEndian(data + at + 3, 2));
        const unsigned char *value = data + at + 5;
        if (at + 5 + size > end)
            break;
        switch (id) {
        case 0x0003:
            if (size >= 1 && size <= 8)
                found.loadCount = static_cast<std::int64_t>(bigEndian(value, size));
            break;
        case 0x0400:
            found.manufacturer = text(value, size);
            break;
        case 0x0401:
            found.mediumSerial = text(value, size);
            break;
        case 0x0406:
            found.manufactureDate = text(value, size);
            break;
        case 0x0806:
            found.barcode = text(value, size);
            break;
        default:
            break;
        }
        at += 5 + size;
    }
    found.known = true;
    cartridge = found;
    return true;
}

std::array<unsigned char, 10> readPositionCommand()
{
    return { 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 };
}

bool parseReadPosition(const unsigned char *data, std::size_t length, std::int64_t &block)
{
    // BPU: the drive does not know its block position.
    if (!data || length < 8 || (data[0] & 0x04))
        return false;
    block = static_cast<std::int64_t>(bigEndian(data + 4, 4));
    return true;
}

std::array<unsigned char, 6> readCommand(std::uint32_t length)
{
    return { 0x08, 0x00, static_cast<unsigned char>(length >> 16),
        static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length & 0xFF), 0x00 };
}

} // namespace ScsiPages
