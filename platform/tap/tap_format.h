#pragma once
/**
 * @file
 * The words of a .tap file and how a record is framed, once for the reader and
 * both writers (see tap_file.h for the format). A record is its length word,
 * its bytes, a zero pad byte when the length is odd, and the length word again.
 */
#include <cstddef>
#include <cstdint>

namespace TapFormat {

constexpr std::uint32_t kTapeMark = 0;
constexpr std::uint32_t kEndOfMedium = 0xFFFFFFFFu;
constexpr std::uint32_t kEraseGap = 0xFFFFFFFEu;
constexpr std::uint32_t kErrorFlag = 0x80000000u; ///< the record was not read whole
constexpr std::uint32_t kLengthMask = 0x0FFFFFFFu;
constexpr std::uint32_t kLargestRecord = kLengthMask;
/// Bytes around a record's data: two length words and at most one pad byte.
constexpr std::size_t kRecordFraming = 4 + 1 + 4;

/**
 * The length word of a record of @p length bytes, or 0 when it cannot be
 * framed: longer than a word can say, or empty and read whole (its word would
 * read back as a tape mark). An empty record flagged unreadable can be.
 */
constexpr std::uint32_t recordWord(std::uint32_t length, bool error)
{
    return length > kLargestRecord || (length == 0 && !error) ? 0
                                                              : length | (error ? kErrorFlag : 0u);
}

/// Puts @p word at @p at, little-endian.
inline void putWord(unsigned char *at, std::uint32_t word)
{
    at[0] = static_cast<unsigned char>(word);
    at[1] = static_cast<unsigned char>(word >> 8);
    at[2] = static_cast<unsigned char>(word >> 16);
    at[3] = static_cast<unsigned char>(word >> 24);
}

/**
 * Frames the record of @p length bytes already at @p at + 4: its word before,
 * the pad byte and the word after. @return the bytes the framed record takes,
 * or 0 when recordWord() refuses it (nothing is written then).
 */
inline std::size_t frameRecord(unsigned char *at, std::uint32_t length, bool error)
{
    const std::uint32_t word = recordWord(length, error);
    if (word == 0)
        return 0;
    putWord(at, word);
    std::size_t used = 4 + length;
    if (length & 1)
        at[used++] = 0;
    putWord(at + used, word);
    return used + 4;
}

} // namespace TapFormat
