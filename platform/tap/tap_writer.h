#pragma once
/**
 * @file
 * Writer of SIMH magtape files (.tap), for the tools and tests that make
 * virtual tapes. See tap_file.h for the format.
 */
#include <cstdint>
#include <cstdio>
#include <string>

class TapWriter
{
public:
    TapWriter() = default;
    ~TapWriter();
    TapWriter(const TapWriter &) = delete;
    TapWriter &operator=(const TapWriter &) = delete;

    /// Creates or truncates @p path. False when it cannot be created.
    bool open(const std::string &path);
    /// Flushes and closes. False when any write since open() failed.
    bool close();

    /// One record of @p length bytes; @p error flags it as unreadable. False for a record
    /// the format cannot frame (see TapFormat::recordWord()).
    bool writeRecord(const void *data, std::uint32_t length, bool error = false);
    bool writeTapeMark();
    bool writeEndOfMedium();
    /// Raw bytes, for making damaged files on purpose.
    bool writeRaw(const void *data, std::size_t length);

private:
    bool writeWord(std::uint32_t word);

    std::FILE *m_file = nullptr;
    bool m_failed = false;
};
