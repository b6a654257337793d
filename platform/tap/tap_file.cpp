#include "platform/tap/tap_file.h"

#include "platform/tap/tap_format.h"

#include <cerrno>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace {

using TapFormat::kEndOfMedium;
using TapFormat::kEraseGap;
using TapFormat::kErrorFlag;
using TapFormat::kLengthMask;
using TapFormat::kTapeMark;

constexpr std::int64_t kWindow = 64 << 10; ///< read at once where records are small
constexpr std::int64_t kWordsOnly = 16; ///< around a large record: pad, trailing word, next word
constexpr std::uint32_t kSmallRecord = 8 << 10;

std::uint32_t littleEndian(const unsigned char *bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24;
}

// pread that retries interrupted and short reads; false unless all bytes arrive.
bool preadAll(int fd, void *buffer, std::size_t length, std::int64_t offset)
{
    auto *out = static_cast<unsigned char *>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(fd, out, length, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        length -= std::size_t(got);
        offset += got;
    }
    return true;
}

} // namespace

TapFile::TapFile(int fd, std::int64_t fileSize)
    : m_fd(fd)
    , m_size(fileSize < 0 ? 0 : fileSize)
    , m_window(std::size_t(kWindow))
{
}

bool TapFile::inWindow(std::int64_t offset, std::int64_t length) const
{
    return offset >= m_windowOffset && offset + length <= m_windowOffset + m_windowLength;
}

std::int64_t TapFile::windowFill(std::int64_t offset) const
{
    // Small records come many to a window; around large ones only the words are wanted.
    const std::int64_t wanted = m_smallRecords ? kWindow : kWordsOnly;
    return wanted < m_size - offset ? wanted : m_size - offset;
}

bool TapFile::readWord(std::int64_t offset, std::uint32_t &word)
{
    if (offset < 0 || offset > m_size - 4)
        return false;
    if (!inWindow(offset, 4)) {
        const std::int64_t length = windowFill(offset);
        m_windowLength = 0;
        if (!preadAll(m_fd, m_window.data(), std::size_t(length), offset))
            return false;
        m_windowOffset = offset;
        m_windowLength = length;
    }
    word = littleEndian(m_window.data() + (offset - m_windowOffset));
    return true;
}

// Classifies the object at m_offset without moving. Erase gaps before it are
// skipped: dataOffset is where its data starts, nextOffset where the next
// object starts. A damaged object reads as the end; a record's trailing word
// is compared only when @p checkTrailer is set (read() compares it itself).
TapFile::Object TapFile::peek(std::int64_t &dataOffset, std::int64_t &nextOffset, bool checkTrailer)
{
    Object object;
    std::int64_t offset = m_offset;
    std::uint32_t word = 0;
    object.damaged = true; // until the object is found whole
    for (;;) {
        if (!readWord(offset, word)) {
            object.damaged = offset != m_size; // a clean end is the file's last byte
            return object;
        }
        if (word != kEraseGap)
            break;
        offset += 4; // every pass moves forward, so a file of gaps ends
    }
    if (word == kEndOfMedium) {
        object.endOfMedium = true;
        object.damaged = false;
        return object;
    }
    nextOffset = offset + 4;
    if (word == kTapeMark) {
        object.kind = Kind::Mark;
        object.damaged = false;
        return object;
    }
    if ((word & ~(kErrorFlag | kLengthMask)) != 0)
        return object; // a reserved class or private marker
    const std::int64_t length = word & kLengthMask;
    m_smallRecords = length <= kSmallRecord;
    const std::int64_t trailerOffset = offset + 4 + length + (length & 1);
    std::uint32_t trailer = 0;
    if (trailerOffset > m_size - 4
        || (checkTrailer && (!readWord(trailerOffset, trailer) || trailer != word)))
        return object;
    object.kind = Kind::Record;
    object.damaged = false;
    object.length = std::uint32_t(length);
    object.error = (word & kErrorFlag) != 0;
    object.word = word;
    dataOffset = offset + 4;
    nextOffset = trailerOffset + 4;
    return object;
}

// Brings a whole record's data into the caller's buffer and what follows it
// into the window, in one call.
bool TapFile::readWithWhatFollows(void *buffer, std::uint32_t length, std::int64_t dataOffset)
{
    const std::int64_t after = dataOffset + length;
    const std::int64_t tail = windowFill(after);
    m_windowLength = 0;
    iovec parts[2] = { { buffer, length }, { m_window.data(), std::size_t(tail) } };
    ssize_t got = -1;
    do
        got = ::preadv(m_fd, parts, 2, dataOffset);
    while (got < 0 && errno == EINTR);
    if (got != ssize_t(length + tail))
        return preadAll(m_fd, buffer, length, dataOffset); // the window is filled when needed
    m_windowOffset = after;
    m_windowLength = tail;
    return true;
}

TapFile::Object TapFile::read(void *buffer, std::uint32_t capacity, std::uint32_t &copied)
{
    copied = 0;
    std::int64_t dataOffset = 0;
    std::int64_t nextOffset = 0;
    Object object = peek(dataOffset, nextOffset, false);
    if (object.kind == Kind::End)
        return object;
    if (object.kind == Kind::Record) {
        const std::uint32_t wanted = object.length < capacity ? object.length : capacity;
        bool read = true;
        if (wanted > 0 && inWindow(dataOffset, wanted))
            std::memcpy(buffer, m_window.data() + (dataOffset - m_windowOffset), wanted);
        else if (wanted > 0 && wanted == object.length)
            read = readWithWhatFollows(buffer, wanted, dataOffset);
        else if (wanted > 0)
            read = preadAll(m_fd, buffer, wanted, dataOffset);
        std::uint32_t trailer = 0;
        if (!read || !readWord(nextOffset - 4, trailer) || trailer != object.word) {
            Object damage; // damaged, or the file failed under us: the end of data
            damage.damaged = true;
            return damage;
        }
        copied = wanted;
    }
    m_offset = nextOffset;
    ++m_position;
    return object;
}

void TapFile::rewind()
{
    m_offset = 0;
    m_position = 0;
}

// Reads the words in front of the current offset backwards, as the format
// allows: a tape mark, or a record's trailing length word. Erase gaps between
// objects are passed over.
bool TapFile::stepBackByWords(bool &wasMark)
{
    std::int64_t offset = m_offset;
    std::uint32_t word = kEraseGap;
    while (word == kEraseGap) {
        if (offset < 4 || !readWord(offset - 4, word))
            return false;
        offset -= 4;
    }
    wasMark = word == kTapeMark;
    if (!wasMark) {
        if ((word & ~(kErrorFlag | kLengthMask)) != 0)
            return false;
        const std::int64_t length = word & kLengthMask;
        offset -= length + (length & 1) + 4;
        std::uint32_t leading = 0;
        if (offset < 0 || !readWord(offset, leading) || leading != word)
            return false;
    }
    m_offset = offset;
    --m_position;
    return true;
}

bool TapFile::stepBack(bool &wasMark)
{
    if (m_position == 0)
        return false;
    if (stepBackByWords(wasMark))
        return true;
    // Gaps in odd places: walk from the start instead, which reads what the forward reads read.
    const std::uint64_t target = m_position - 1;
    seek(target);
    std::int64_t dataOffset = 0;
    std::int64_t nextOffset = 0;
    wasMark = peek(dataOffset, nextOffset, true).kind == Kind::Mark;
    return m_position == target;
}

// Walks from the current object to the end of data, or until the position
// reaches stopAt. Reaching the end is remembered with the bytes on the way,
// so a second walk from the start costs nothing.
void TapFile::walkToEnd(std::uint64_t stopAt)
{
    if (m_endKnown && stopAt >= m_endPosition) {
        m_offset = m_endOffset;
        m_position = m_endPosition;
        return;
    }
    const bool fromStart = m_position == 0;
    std::uint64_t bytes = 0;
    while (m_position < stopAt) {
        std::int64_t dataOffset = 0;
        std::int64_t nextOffset = 0;
        const Object object = peek(dataOffset, nextOffset, true);
        if (object.kind == Kind::End) {
            if (fromStart) {
                m_endKnown = true;
                m_endOffset = m_offset;
                m_endPosition = m_position;
                m_recordedBytes = bytes;
            }
            return;
        }
        bytes += object.length;
        m_offset = nextOffset;
        ++m_position;
    }
}

void TapFile::spaceToEnd()
{
    walkToEnd(UINT64_MAX);
}

void TapFile::seek(std::uint64_t index)
{
    if (index < m_position)
        rewind();
    walkToEnd(index);
}

std::uint64_t TapFile::recordedBytes()
{
    if (!m_endKnown) {
        const std::int64_t offset = m_offset;
        const std::uint64_t position = m_position;
        rewind();
        walkToEnd(UINT64_MAX);
        m_offset = offset;
        m_position = position;
    }
    return m_recordedBytes;
}
