#include "platform/st/scsi_sense.h"

#include <cstdio>

namespace ScsiSense {

namespace {

struct CodeName
{
    std::uint8_t asc;
    std::uint8_t ascq;
    const char *name;
};

// The codes a sequential-access device reports while reading, loading and positioning.
const CodeName kCodes[] = {
    { 0x00, 0x00, "no additional sense information" },
    { 0x00, 0x01, "filemark detected" },
    { 0x00, 0x02, "end-of-partition/medium detected" },
    { 0x00, 0x03, "setmark detected" },
    { 0x00, 0x04, "beginning-of-partition/medium detected" },
    { 0x00, 0x05, "end-of-data detected" },
    { 0x00, 0x16, "operation in progress" },
    { 0x00, 0x17, "cleaning requested" },
    { 0x04, 0x00, "logical unit not ready, cause not reportable" },
    { 0x04, 0x01, "logical unit is in process of becoming ready" },
    { 0x04, 0x02, "logical unit not ready, initializing command required" },
    { 0x04, 0x03, "logical unit not ready, manual intervention required" },
    { 0x0C, 0x00, "write error" },
    { 0x11, 0x00, "unrecovered read error" },
    { 0x11, 0x01, "read retries exhausted" },
    { 0x11, 0x08, "incomplete block read" },
    { 0x14, 0x00, "recorded entity not found" },
    { 0x14, 0x01, "record not found" },
    { 0x14, 0x02, "filemark or setmark not found" },
    { 0x14, 0x03, "end-of-data not found" },
    { 0x14, 0x04, "block sequence error" },
    { 0x15, 0x01, "mechanical positioning error" },
    { 0x15, 0x02, "positioning error detected by read of medium" },
    { 0x20, 0x00, "invalid command operation code" },
    { 0x24, 0x00, "invalid field in cdb" },
    { 0x25, 0x00, "logical unit not supported" },
    { 0x26, 0x00, "invalid field in parameter list" },
    { 0x27, 0x00, "write protected" },
    { 0x28, 0x00, "not ready to ready change, medium may have changed" },
    { 0x29, 0x00, "power on, reset, or bus device reset occurred" },
    { 0x29, 0x01, "power on occurred" },
    { 0x29, 0x02, "scsi bus reset occurred" },
    { 0x29, 0x03, "bus device reset function occurred" },
    { 0x29, 0x04, "device internal reset" },
    { 0x2A, 0x01, "mode parameters changed" },
    { 0x30, 0x00, "incompatible medium installed" },
    { 0x30, 0x01, "cannot read medium - unknown format" },
    { 0x30, 0x02, "cannot read medium - incompatible format" },
    { 0x30, 0x03, "cleaning cartridge installed" },
    { 0x30, 0x07, "cleaning failure" },
    { 0x31, 0x00, "medium format corrupted" },
    { 0x33, 0x00, "tape length error" },
    { 0x3A, 0x00, "medium not present" },
    { 0x3B, 0x00, "sequential positioning error" },
    { 0x3B, 0x08, "reposition error" },
    { 0x44, 0x00, "internal target failure" },
    { 0x50, 0x00, "write append error" },
    { 0x52, 0x00, "cartridge fault" },
    { 0x53, 0x00, "media load or eject failed" },
    { 0x53, 0x01, "unload tape failure" },
    { 0x53, 0x02, "medium removal prevented" },
    { 0x5D, 0x00, "failure prediction threshold exceeded" },
};

const char *const kKeys[] = { "NO SENSE", "RECOVERED ERROR", "NOT READY", "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT", "BLANK CHECK",
    "VENDOR SPECIFIC", "COPY ABORTED", "ABORTED COMMAND", "RESERVED", "VOLUME OVERFLOW",
    "MISCOMPARE", "COMPLETED" };

std::int64_t bigEndian(const unsigned char *data, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | data[i];
    return static_cast<std::int64_t>(value);
}

void decodeFixed(const unsigned char *data, std::size_t end, SenseFacts &sense)
{
    if (end < 3)
        return;
    sense.filemark = data[2] & 0x80;
    sense.endOfMedium = data[2] & 0x40;
    sense.incorrectLength = data[2] & 0x20;
    sense.key = data[2] & 0x0F;
    if (end >= 7) {
        sense.informationValid = data[0] & 0x80;
        // A signed residue: a read that asked for more than the record is negative.
        sense.information = static_cast<std::int32_t>(std::uint32_t(bigEndian(data + 3, 4)));
    }
    if (end >= 14) {
        sense.asc = data[12];
        sense.ascq = data[13];
    }
}

void decodeDescriptors(const unsigned char *data, std::size_t end, SenseFacts &sense)
{
    if (end < 4)
        return;
    sense.key = data[1] & 0x0F;
    sense.asc = data[2];
    sense.ascq = data[3];
    for (std::size_t at = 8; at + 2 <= end;) {
        const unsigned char *descriptor = data + at;
        const std::size_t size = 2 + std::size_t(descriptor[1]);
        if (at + size > end)
            break;
        if (descriptor[0] == 0x00 && size >= 12) {
            sense.informationValid = descriptor[2] & 0x80;
            sense.information = bigEndian(descriptor + 4, 8);
        } else if (descriptor[0] == 0x04 && size >= 4) {
            sense.filemark = descriptor[3] & 0x80;
            sense.endOfMedium = descriptor[3] & 0x40;
            sense.incorrectLength = descriptor[3] & 0x20;
        }
        at += size;
    }
}

} // namespace

SenseFacts decode(const unsigned char *data, std::size_t length)
{
    SenseFacts sense;
    if (!data || length < 1)
        return sense;
    const unsigned code = data[0] & 0x7F;
    const bool fixed = code == 0x70 || code == 0x71;
    if (!fixed && code != 0x72 && code != 0x73)
        return sense;
    // Both formats give the length of what follows byte 7.
    std::size_t end = length;
    if (length >= 8 && 8 + std::size_t(data[7]) < end)
        end = 8 + std::size_t(data[7]);
    sense.present = true;
    if (fixed)
        decodeFixed(data, end, sense);
    else
        decodeDescriptors(data, end, sense);
    sense.keyName = keyName(sense.key);
    sense.ascName = codeName(sense.asc, sense.ascq);
    sense.action = classify(sense.key, sense.asc, sense.ascq, sense.filemark, sense.endOfMedium);
    sense.advice = advice(sense.action);
    return sense;
}

std::string keyName(std::uint8_t key)
{
    return kKeys[key & 0x0F];
}

std::string codeName(std::uint8_t asc, std::uint8_t ascq)
{
    for (const CodeName &code : kCodes) {
        if (code.asc == asc && code.ascq == ascq)
            return code.name;
    }
    char text[40];
    std::snprintf(text, sizeof text, "ASC 0x%02X, ASCQ 0x%02X", asc, ascq);
    return text;
}

SenseAction classify(
    std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, bool filemark, bool endOfMedium)
{
    // The codes say more than the key: a drive reports a foreign format as a medium error.
    if (asc == 0x30 && ascq <= 0x02)
        return SenseAction::WrongFormat;
    if (asc == 0x29 || asc == 0x28)
        return SenseAction::PositionLost;
    if (asc == 0x00 && ascq == 0x17)
        return SenseAction::CleaningRequested;
    if (asc == 0x3A)
        return SenseAction::NotReady;
    switch (key) {
    case 0x0:
    case 0x1:
        if (filemark)
            return SenseAction::Filemark;
        if (endOfMedium)
            return SenseAction::EndOfMedium;
        return asc == 0x00 && ascq == 0x05 ? SenseAction::EndOfData : SenseAction::None;
    case 0x2:
        return SenseAction::NotReady;
    case 0x3:
        return SenseAction::MediumError;
    case 0x4:
        return SenseAction::HardwareError;
    case 0x5:
        return SenseAction::IllegalRequest;
    case 0x6:
        return SenseAction::PositionLost;
    case 0x8:
        return SenseAction::EndOfData;
    case 0xD:
        return SenseAction::EndOfMedium;
    default:
        return SenseAction::Other;
    }
}

std::string advice(SenseAction action)
{
    switch (action) {
    case SenseAction::None:
    case SenseAction::Filemark:
        return {};
    case SenseAction::EndOfData:
        return "nothing more is recorded on the tape here (blank check or end of data)";
    case SenseAction::EndOfMedium:
        return "the drive has reached the physical end of the tape";
    case SenseAction::MediumError:
        return "the tape could not be read here: a damaged or worn medium (a dirty head "
               "looks the same; TapeAlert tells them apart)";
    case SenseAction::HardwareError:
        return "the drive itself failed: try another drive of the same generation";
    case SenseAction::WrongFormat:
        return "this drive cannot read this cartridge's format; try a drive of its generation";
    case SenseAction::NotReady:
        return "the drive is not ready: no cartridge, or it is still loading";
    case SenseAction::PositionLost:
        return "the drive was reset or the cartridge changed: the position is lost and must be "
               "read again before going on";
    case SenseAction::CleaningRequested:
        return "the drive asks to be cleaned: clean it with a cleaning cartridge, then go on";
    case SenseAction::IllegalRequest:
        return "the drive refused the command";
    case SenseAction::Other:
        break;
    }
    return "the drive reported an error";
}

} // namespace ScsiSense
