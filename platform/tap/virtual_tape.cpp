#include "platform/tap/virtual_tape.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<unsigned> processFaults { 0 };
std::atomic<unsigned> prepareCalls { 0 };

std::int64_t nominalCapacity()
{
    const char *text = std::getenv("TARNWICK_VTAPE_CAPACITY");
    if (!text || !*text)
        return VirtualTape::kDefaultCapacity;
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0)
        return VirtualTape::kDefaultCapacity;
    return value;
}

/// The fault lists from the environment and the side file.
std::string faultsFromOutside(const std::string &path)
{
    std::string lists;
    if (const char *list = std::getenv("TARNWICK_VTAPE_FAULTS"))
        lists = list;
    std::ifstream side(path + ".faults");
    if (side) {
        std::stringstream text;
        text << side.rdbuf();
        lists += ',' + text.str();
    }
    return lists;
}

/// The words of a fault list: separated by commas or white space.
std::vector<std::string> faultWords(const std::string &list)
{
    std::vector<std::string> out;
    std::string word;
    std::istringstream words(list);
    while (std::getline(words, word, ',')) {
        std::istringstream parts(word);
        std::string name;
        while (parts >> name)
            out.push_back(name);
    }
    return out;
}

bool number(const std::string &text, unsigned long long &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

/// Bytes a second from "pace=400M" (K, M, G: thousands, millions, billions) among the
/// fault switches; 0 when none is given.
std::uint64_t paceIn(const std::string &list)
{
    std::uint64_t pace = 0;
    std::string word;
    std::istringstream words(list);
    while (words >> word) {
        for (char &c : word)
            c = c == ',' ? ' ' : c;
        std::istringstream parts(word);
        std::string part;
        while (parts >> part) {
            if (part.compare(0, 5, "pace=") != 0)
                continue;
            char *end = nullptr;
            const double value = std::strtod(part.c_str() + 5, &end);
            const double unit = *end == 'K' ? 1e3 : *end == 'M' ? 1e6 : *end == 'G' ? 1e9 : 1;
            if (value > 0)
                pace = std::uint64_t(value * unit);
        }
    }
    return pace;
}

std::uint64_t paceFromOutside(const std::string &path)
{
    std::uint64_t pace = 0;
    if (const char *list = std::getenv("TARNWICK_VTAPE_FAULTS"))
        pace = paceIn(list);
    std::ifstream side(path + ".faults");
    if (side) {
        std::stringstream text;
        text << side.rdbuf();
        pace = std::max(pace, paceIn(text.str()));
    }
    return pace;
}

DWORD openError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_IO_DEVICE;
    }
}

} // namespace

std::unique_ptr<VirtualTape> VirtualTape::open(const std::string &path, DWORD &error)
{
    const std::string lists = faultsFromOutside(path);
    const unsigned faults = processFaults | parseFaults(lists);
    if (faults & Open) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = openError(errno);
        return nullptr;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    // flock locks belong to the open file description, so this also refuses
    // a second open from this very process, as share mode 0 asks.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_IO_DEVICE;
        ::close(fd);
        return nullptr;
    }
    error = NO_ERROR;
    std::unique_ptr<VirtualTape> tape(new VirtualTape(fd, info.st_size, faults));
    parseFailingRecords(lists, tape->m_failing);
    if (const char *log = std::getenv("TARNWICK_VTAPE_READ_LOG"); log && *log)
        tape->m_readLog = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    tape->m_pace = paceFromOutside(path);
    return tape;
}

VirtualTape::VirtualTape(int fd, std::int64_t size, unsigned faults)
    : m_fd(fd)
    , m_file(fd, size)
    , m_faults(faults)
{
}

VirtualTape::~VirtualTape()
{
    ::close(m_fd); // releases the lock
    if (m_readLog >= 0)
        ::close(m_readLog);
}

void VirtualTape::setFaults(unsigned faults)
{
    processFaults = faults;
}

unsigned VirtualTape::faults()
{
    return processFaults;
}

unsigned VirtualTape::parseFaults(const std::string &list)
{
    static const struct
    {
        const char *name;
        Fault fault;
    } names[] = { { "open", Open }, { "load", Load }, { "notready", NotReady }, { "media", Media },
        { "position", Position }, { "eject", Eject }, { "slow", Slow } };
    unsigned faults = 0;
    for (const std::string &name : faultWords(list)) {
        for (const auto &entry : names) {
            if (name == entry.name)
                faults |= entry.fault;
        }
    }
    return faults;
}

void VirtualTape::parseFailingRecords(
    const std::string &list, std::map<std::uint64_t, unsigned> &failing)
{
    for (const std::string &word : faultWords(list)) {
        unsigned long long position = 0, reads = 0;
        if (word.rfind("dead=", 0) == 0 && number(word.substr(5), position)) {
            failing[position] = kNeverReads;
            continue;
        }
        const std::size_t colon = word.find(':');
        if (word.rfind("flaky=", 0) == 0 && colon != std::string::npos
            && number(word.substr(6, colon - 6), position) && number(word.substr(colon + 1), reads)
            && reads < kNeverReads)
            failing[position] = unsigned(reads);
    }
}

void VirtualTape::logRead(std::uint64_t position) const
{
    if (m_readLog < 0)
        return;
    const std::string line = std::to_string(position) + '\n';
    // One write per line: a log shared by runs killed at any point stays whole lines.
    if (::write(m_readLog, line.data(), line.size()) < 0)
        return;
}

unsigned VirtualTape::prepareCallCount()
{
    return prepareCalls;
}

void VirtualTape::resetPrepareCallCount()
{
    prepareCalls = 0;
}

VirtualTape *VirtualTape::fromHandle(HANDLE handle)
{
    return dynamic_cast<VirtualTape *>(lookupHandle(handle));
}

DWORD VirtualTape::prepare(bool unload)
{
    ++prepareCalls;
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (unload) {
        m_ejected = true;
        return NO_ERROR;
    }
    return (m_faults & Load) ? ERROR_NOT_READY : NO_ERROR;
}

DWORD VirtualTape::status()
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    return (m_faults & NotReady) ? ERROR_NOT_READY : NO_ERROR;
}

DWORD VirtualTape::mediaInfo(TapeMediaInfo &info)
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (m_faults & Media)
        return ERROR_IO_DEVICE;
    const std::int64_t capacity = nominalCapacity();
    const auto recorded = static_cast<std::int64_t>(m_file.recordedBytes());
    info.capacity = capacity;
    info.remaining = recorded < capacity ? capacity - recorded : 0;
    info.blockSize = m_blockSize;
    info.partitionCount = 1;
    info.writeProtected = true;
    return NO_ERROR;
}

DWORD VirtualTape::setBlockSize(std::uint32_t blockSize)
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    m_blockSize = blockSize; // reads stay record by record whatever it is
    return NO_ERROR;
}

bool VirtualTape::metDamage(const TapFile::Object &object)
{
    if (object.kind != TapFile::Kind::End || !object.damaged)
        return false;
    m_damage.found = true;
    m_damage.offset = m_file.offset();
    m_damage.bytesAfter = m_file.size() - m_file.offset();
    m_damage.block = m_file.position();
    return true;
}

// The object at the file's position, when the walk there ended at the end of data.
TapFile::Object VirtualTape::endHere()
{
    std::uint32_t copied = 0;
    return m_file.read(nullptr, 0, copied); // an End does not move
}

DWORD VirtualTape::spaceToEndOfData()
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    m_file.spaceToEnd();
    // The damaged place counts as a block the data ends after, as the reads find it.
    m_pastDamage = metDamage(endHere());
    return NO_ERROR;
}

DWORD VirtualTape::seekBlock(std::uint64_t block)
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    m_pastDamage = false;
    m_file.seek(block);
    if (m_file.position() < block)
        m_pastDamage = metDamage(endHere()); // the data ends after the damaged place
    return filePosition() == block ? NO_ERROR : ERROR_NO_DATA_DETECTED;
}

DWORD VirtualTape::position(std::uint64_t &block)
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (m_faults & Position)
        return ERROR_IO_DEVICE;
    block = filePosition();
    return NO_ERROR;
}

DWORD VirtualTape::spaceRecords(std::int64_t count)
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    for (; count > 0; --count) {
        if (m_pastDamage)
            return ERROR_NO_DATA_DETECTED;
        std::uint32_t copied = 0;
        const TapFile::Object object = m_file.read(nullptr, 0, copied);
        if (metDamage(object)) {
            m_pastDamage = true;
            continue;
        }
        if (object.kind == TapFile::Kind::End)
            return object.endOfMedium ? ERROR_END_OF_MEDIA : ERROR_NO_DATA_DETECTED;
        if (object.kind == TapFile::Kind::Mark)
            return ERROR_FILEMARK_DETECTED;
    }
    for (; count < 0; ++count) {
        if (m_pastDamage) {
            m_pastDamage = false;
            continue;
        }
        bool mark = false;
        if (!m_file.stepBack(mark))
            return ERROR_BEGINNING_OF_MEDIA;
        if (mark)
            return ERROR_FILEMARK_DETECTED;
    }
    return NO_ERROR;
}

DWORD VirtualTape::read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    bytesRead = 0;
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (m_faults & Slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (m_pace > 0)
        pace();
    const std::uint64_t at = filePosition();
    logRead(at);
    if (m_pastDamage)
        return ERROR_NO_DATA_DETECTED;
    const TapFile::Object object = m_file.read(buffer, length, bytesRead);
    m_paceBytes += bytesRead;
    if (metDamage(object)) {
        m_pastDamage = true;
        return ERROR_CRC;
    }
    switch (object.kind) {
    case TapFile::Kind::End:
        return object.endOfMedium ? ERROR_END_OF_MEDIA : ERROR_NO_DATA_DETECTED;
    case TapFile::Kind::Mark:
        return ERROR_FILEMARK_DETECTED;
    case TapFile::Kind::Record:
        break;
    }
    const auto failing = m_failing.find(at);
    if (failing != m_failing.end() && failing->second > 0) {
        if (failing->second != kNeverReads)
            --failing->second;
        bytesRead = 0;
        return ERROR_CRC;
    }
    if (object.error)
        return ERROR_CRC;
    return object.length > length ? ERROR_MORE_DATA : NO_ERROR;
}

void VirtualTape::pace()
{
    // The bytes of the records read so far may not come faster than the pace; a reader that
    // came late (it waited) does not get them faster afterwards, as a drive that stopped
    // does not catch up.
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    const auto behind = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(m_paceBytes) / double(m_pace)));
    if (m_paceBytes == 0 || now - (m_paceStart + behind) > std::chrono::milliseconds(20))
        m_paceStart = now - behind;
    std::this_thread::sleep_until(m_paceStart + behind);
}

DWORD VirtualTape::eject()
{
    if (m_ejected)
        return ERROR_NO_MEDIA_IN_DRIVE;
    if (m_faults & Eject)
        return ERROR_IO_DEVICE;
    m_ejected = true;
    return NO_ERROR;
}

DWORD VirtualTape::identify(TapeIdentity &identity)
{
    identity = TapeIdentity();
    identity.kind = "virtual tape"; // a file has no vendor or serial number
    return NO_ERROR;
}
