#pragma once
/**
 * @file
 * Reader of SIMH magtape files (.tap), the format of the virtual tape.
 *
 * A file is a sequence of objects, each starting with a 32-bit little-endian
 * word: 0 is a tape mark; 0xFFFFFFFF marks the end of the medium; 0xFFFFFFFE
 * is a four-byte erase gap (skipped, not an object); otherwise bits 0-27 give
 * a record length n and bit 31 flags a record that was read with an error.
 * A record is the word, n data bytes, one zero byte when n is odd, and the
 * same word again. Every other word (reserved classes, private markers) is
 * treated like a damaged file.
 *
 * Damage ends the data where it starts, flagged as damage so that a caller
 * can tell it from a clean end: a record whose trailing word differs, a record
 * or word running past the end of the file, an unknown word and a failed read
 * of the file. The reader
 * keeps the current offset and position (and, once known, where the data
 * ends) and a 64 KiB window of the file: memory does not grow with the size of
 * the tape.
 */
#include <cstdint>
#include <vector>

class TapFile
{
public:
    enum class Kind { Record, Mark, End };

    /// What the next object of the tape is.
    struct Object
    {
        Kind kind = Kind::End;
        std::uint32_t length = 0; ///< data bytes of a record
        bool error = false; ///< the record was recorded as unreadable
        bool endOfMedium = false; ///< an End that is the end-of-medium marker
        bool damaged = false; ///< an End where the file cannot be read on (see offset())
        std::uint32_t word = 0; ///< a record's length word, as it stands before and after it
    };

    /// Reads the open file @p fd (not owned) of @p fileSize bytes.
    TapFile(int fd, std::int64_t fileSize);

    std::uint64_t position() const { return m_position; }
    /// File offset of the next object; after a read, its record ends just before it.
    std::int64_t offset() const { return m_offset; }
    std::int64_t size() const { return m_size; }

    /**
     * Reads the next object. For a record, copies min(length, @p capacity)
     * bytes into @p buffer and sets @p copied; for a mark or the end, copies
     * nothing. A record or mark moves the position by one; the end does not.
     * An I/O error of the file reads as the end of data.
     */
    Object read(void *buffer, std::uint32_t capacity, std::uint32_t &copied);

    void rewind();
    /**
     * Moves back before the object in front of the current position; sets
     * @p wasMark when it is a tape mark. False at the start of the tape.
     */
    bool stepBack(bool &wasMark);
    /// Moves to the end of the data by walking the object headers.
    void spaceToEnd();
    /// Moves before object @p index, or to the end when the data holds fewer objects.
    void seek(std::uint64_t index);
    /// Sum of the record lengths before the end of data (walks once, then remembered).
    std::uint64_t recordedBytes();

private:
    Object peek(std::int64_t &dataOffset, std::int64_t &nextOffset, bool checkTrailer);
    bool readWord(std::int64_t offset, std::uint32_t &word);
    bool inWindow(std::int64_t offset, std::int64_t length) const;
    std::int64_t windowFill(std::int64_t offset) const;
    bool readWithWhatFollows(void *buffer, std::uint32_t length, std::int64_t dataOffset);
    bool stepBackByWords(bool &wasMark);
    void walkToEnd(std::uint64_t stopAt);

    int m_fd;
    std::int64_t m_size;
    std::int64_t m_offset = 0;
    std::uint64_t m_position = 0;
    bool m_endKnown = false;
    std::int64_t m_endOffset = 0;
    std::uint64_t m_endPosition = 0;
    std::uint64_t m_recordedBytes = 0;
    // Bytes of the file from m_windowOffset: the length words of small records
    // are read many at a time, and a large record brings the words after it along.
    std::vector<unsigned char> m_window;
    std::int64_t m_windowOffset = 0;
    std::int64_t m_windowLength = 0;
    bool m_smallRecords = true; ///< the last record read was small
};
