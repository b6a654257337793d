#pragma once
/**
 * @file
 * Layer platform/tap (library tarnwick_backend_tap): the .tap format (its
 * reader and writers, framing in tap_format.h) and the virtual tape backend.
 * Uses platform/backend only; the facade opens the backend, mktap and the
 * master write the format.
 *
 * The virtual tape backend: a SIMH magtape file (.tap) read as a tape drive
 * with a loaded cartridge. See tap_file.h for the format.
 *
 * Capacity is 12,000,000,000,000 bytes, or the number of bytes in the
 * environment variable TARNWICK_VTAPE_CAPACITY; remaining is the capacity
 * minus the record bytes before the end of data. The file is opened read-only
 * and locked with flock(LOCK_EX | LOCK_NB): a second open, from this process
 * or another, fails with ERROR_SHARING_VIOLATION.
 *
 * A damaged file (a record whose length words disagree, a record cut by the
 * end of the file, a reserved marker) reads as a drive reads a place it cannot
 * read: the read there fails with ERROR_CRC and passes it as one block, after
 * which the data ends (nothing beyond it can be framed). damage() says where
 * it is, for a verdict that names it.
 *
 * Fault switches make the tape fail on purpose, for tests. All are off unless
 * asked for, in one of three ways, which add up:
 *  - in-process: VirtualTape::setFaults(VirtualTape::Load | ...) before the
 *    open (or setInstanceFaults() on an open tape);
 *  - the environment variable TARNWICK_VTAPE_FAULTS, read at every open;
 *  - a side file "<tape path>.faults" beside the tape, read at every open.
 * The last two hold names separated by commas or white space:
 *  - `open`     CreateFileW fails (ERROR_ACCESS_DENIED);
 *  - `load`     every PrepareTape fails (ERROR_NOT_READY);
 *  - `notready` GetTapeStatus reports ERROR_NOT_READY;
 *  - `media`    GetTapeParameters fails (ERROR_IO_DEVICE), leaving the struct alone;
 *  - `position` GetTapePosition fails (ERROR_IO_DEVICE), leaving the outputs alone;
 *  - `eject`    the eject fails (ERROR_IO_DEVICE) and the medium stays;
 *  - `slow`     every read takes 2 ms more, like a slow drive (for tests that act
 *               while a run is going on);
 *  - `flaky=K:N` the record at position K (records and marks counted from 0) fails
 *               its first N reads on this open with ERROR_CRC and no data, then reads;
 *  - `dead=K`   the record at position K never reads (ERROR_CRC, no data).
 *  - `pace=RATE` records come at most RATE bytes a second (K, M, G: thousands,
 *               millions, billions), like a drive streaming at its speed.
 * A failed read passes the record, as a drive does. Unknown names are ignored.
 *
 * When the environment variable TARNWICK_VTAPE_READ_LOG names a file, every
 * read appends the position it read at to it, one line each, so that a test can
 * count the reads of several runs, killed ones too.
 */
#include "platform/backend/tape_backend.h"
#include "platform/tap/tap_file.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>

class VirtualTape : public TapeBackend
{
public:
    enum Fault : unsigned {
        NoFault = 0,
        Open = 1u << 0,
        Load = 1u << 1,
        NotReady = 1u << 2,
        Media = 1u << 3,
        Position = 1u << 4,
        Eject = 1u << 5,
        Slow = 1u << 6,
    };

    static constexpr std::int64_t kDefaultCapacity = 12000000000000LL;

    /// Opens the regular file @p path; null with the reason in @p error when it cannot.
    static std::unique_ptr<VirtualTape> open(const std::string &path, DWORD &error);

    /// Process-wide faults applied to every tape opened afterwards.
    static void setFaults(unsigned faults);
    static unsigned faults();
    /// The fault bits named in @p list ("load,media", "open notready").
    static unsigned parseFaults(const std::string &list);

    /// Records that fail, by position: how many reads fail (kNeverReads: all); from
    /// the `flaky=K:N` and `dead=K` entries of @p list, added to @p failing.
    static constexpr unsigned kNeverReads = ~0u;
    static void parseFailingRecords(
        const std::string &list, std::map<std::uint64_t, unsigned> &failing);

    /// PrepareTape calls made on any virtual tape since the last reset.
    static unsigned prepareCallCount();
    static void resetPrepareCallCount();

    /// The virtual tape behind @p handle, or null when it is not one.
    static VirtualTape *fromHandle(HANDLE handle);

    ~VirtualTape() override;

    /// Where the file is damaged, once a read, space or seek has come to it.
    struct Damage
    {
        bool found = false;
        std::int64_t offset = 0; ///< in the file
        std::int64_t bytesAfter = 0; ///< from offset to the end of the file: not readable
        std::uint64_t block = 0; ///< the tape position there (blocks and marks before it)
    };
    const Damage &damage() const { return m_damage; }

    unsigned instanceFaults() const { return m_faults; }
    void setInstanceFaults(unsigned faults) { m_faults = faults; }
    bool ejected() const { return m_ejected; }

    DWORD prepare(bool unload) override;
    DWORD status() override;
    DWORD mediaInfo(TapeMediaInfo &info) override;
    DWORD setBlockSize(std::uint32_t blockSize) override;
    DWORD spaceToEndOfData() override;
    DWORD seekBlock(std::uint64_t block) override;
    DWORD position(std::uint64_t &block) override;
    DWORD spaceRecords(std::int64_t count) override;
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override;
    DWORD eject() override;
    DWORD identify(TapeIdentity &identity) override;

private:
    VirtualTape(int fd, std::int64_t size, unsigned faults);
    void logRead(std::uint64_t position) const;

    /// Notes @p object, just met at the file's position, when it is damage; returns whether.
    bool metDamage(const TapFile::Object &object);
    TapFile::Object endHere();
    std::uint64_t filePosition() const { return m_file.position() + (m_pastDamage ? 1 : 0); }

    void pace();

    int m_fd;
    TapFile m_file;
    std::uint64_t m_pace = 0; ///< bytes a second; 0: as fast as the file reads
    std::uint64_t m_paceBytes = 0; ///< record bytes read since the first paced read
    std::chrono::steady_clock::time_point m_paceStart;
    Damage m_damage;
    bool m_pastDamage = false; ///< the damage was passed: the position is one beyond the file's
    unsigned m_faults;
    std::uint32_t m_blockSize = 0;
    bool m_ejected = false;
    std::map<std::uint64_t, unsigned> m_failing; ///< position -> reads still to fail
    int m_readLog = -1;
};
