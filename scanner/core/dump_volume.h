#pragma once
#include "scanner/core/scan_result.h"

#include <cstddef>
#include <cstring>

namespace Quorlin {

class BodyStream;

/// The record a dump volume is made of, headers and data alike.
constexpr qint64 dumpRecordSize = 1024;

/// One header record of a dump volume, read in the byte order its magic number
/// tells (a volume written on a machine of the other byte order reads the same).
class DumpHeader
{
public:
    enum Type { Tape = 1, Inode = 2, Bits = 3, Addresses = 4, End = 5, Cleared = 6 };
    // Field offsets in the record.
    static constexpr std::size_t typeAt = 0;
    static constexpr std::size_t dateAt = 4;
    static constexpr std::size_t volumeAt = 12;
    static constexpr std::size_t recordNumberAt = 16;
    static constexpr std::size_t inodeNumberAt = 20;
    static constexpr std::size_t magicAt = 24;
    static constexpr std::size_t inodeAt = 32; ///< the file's inode, 128 bytes
    static constexpr std::size_t countAt = 160;
    static constexpr std::size_t addressesAt = 164;
    static constexpr std::size_t addressCount = 512;
    static constexpr std::size_t ntrecAt = 896;
    static constexpr qint32 oldMagic = 60011;
    static constexpr qint32 newMagic = 60012;

    DumpHeader(const unsigned char *bytes, std::size_t available);

    bool isValid() const { return m_valid; }
    bool isSwapped() const { return m_swapped; }
    /// The volume's older layout: 16-bit owners, names with a 16-bit length.
    bool isOldFormat() const { return word(magicAt) == oldMagic; }
    qint32 type() const { return word(typeAt); }
    qint32 word(std::size_t at) const
    {
        quint32 value;
        std::memcpy(&value, m_bytes + at, 4);
        return qint32(m_swapped ? swap32(value) : value);
    }
    quint16 half(std::size_t at) const
    {
        quint16 value;
        std::memcpy(&value, m_bytes + at, 2);
        return m_swapped ? quint16((value >> 8) | (value << 8)) : value;
    }
    quint64 doubleWord(std::size_t at) const
    {
        const quint64 first = quint32(word(at));
        const quint64 second = quint32(word(at + 4));
        return m_swapped ? (first << 32) | second : (second << 32) | first;
    }
    QString text(std::size_t at, std::size_t length) const;
    /// The record's bytes [@p at, @p at + @p length) as they stand.
    QByteArray raw(std::size_t at, std::size_t length) const
    {
        return QByteArray(reinterpret_cast<const char *>(m_bytes + at), int(length));
    }
    /// Entries of c_addr in use (at most 512).
    int addressEntries() const;
    /// Whether entry @p i of c_addr stands for a record on the tape (not a hole).
    bool addressPresent(int i) const { return m_bytes[addressesAt + std::size_t(i)] != 0; }
    /// Data records that follow this header on the tape.
    qint64 followingRecords() const;

    static quint32 swap32(quint32 value)
    {
        return (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u)
            | (value << 24);
    }

private:
    const unsigned char *m_bytes;
    bool m_swapped = false;
    bool m_valid = false;
};

/// What a volume's tape header says of the dump: level, file system, host, date.
QString dumpLabel(const DumpHeader &header);

/// True when @p header (1024 bytes) opens a dump volume: a tape header record
/// with a dump magic number and a matching checksum, in either byte order.
bool isDumpVolumeHeader(const unsigned char *header, std::size_t available);

/// Walks the dump volume that starts at stream offset @p begin, record header
/// by record header, to its end record, so what the volume stores (files that
/// may be archives themselves) is stepped over, not scanned. Returns the region
/// it covers, named with the volume's label; when the walk loses its way, the
/// region ends there and the label says so.
RawRegion readDumpVolume(BodyStream &stream, qint64 begin, qint64 end);

} // namespace Quorlin
