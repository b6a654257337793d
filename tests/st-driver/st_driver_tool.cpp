// st-driver-tool: the two programs the st driver harness runs besides tarnwick-image.
//
//   st-driver-tool write TAPE.tap DEVICE
//       writes the records and tape marks of a .tap file to a tape through the
//       st driver (variable block mode), then rewinds.
//   st-driver-tool as-read TAPE.tap OUT.tap
//       writes the tape as a drive gives it back: a record flagged as
//       unreadable comes back empty (a drive returns no bytes of it).
//   st-driver-tool walk
//       goes over the tape of //./Tape0 ($TAPE) through the platform layer, as
//       the imaging run does and further (every read up to the end of data,
//       eject, reload), printing one line per call. The lines of a drive and of
//       the .tap file with the same records and marks must be the same.
#include "platform/tap/tap_file.h"
#include "platform/tap/tap_writer.h"
#include "platform/win32_tape.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mtio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t kLargestRecord = 16u << 20;
constexpr DWORD kReadLength = 0x80001; // the read length of the imaging run
constexpr int kMostReads = 200;

bool tapeOperation(int fd, short op, int count)
{
    mtop request = {};
    request.mt_op = op;
    request.mt_count = count;
    if (::ioctl(fd, MTIOCTOP, &request) == 0)
        return true;
    std::fprintf(stderr, "st-driver-tool: mt operation %d: %s\n", op, std::strerror(errno));
    return false;
}

int writeTape(const char *tapPath, const char *device)
{
    const int in = ::open(tapPath, O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    const int out = ::open(device, O_RDWR | O_CLOEXEC);
    if (in < 0 || out < 0 || ::fstat(in, &info) != 0) {
        std::fprintf(stderr, "st-driver-tool: cannot open %s or %s\n", tapPath, device);
        return 1;
    }
    if (!tapeOperation(out, MTSETBLK, 0) || !tapeOperation(out, MTREW, 1))
        return 1;
    TapFile tape(in, info.st_size);
    std::vector<unsigned char> record(kLargestRecord);
    bool lastWasRecord = false;
    for (;;) {
        std::uint32_t length = 0;
        const TapFile::Object object = tape.read(record.data(), kLargestRecord, length);
        if (object.kind == TapFile::Kind::End)
            break;
        lastWasRecord = object.kind == TapFile::Kind::Record;
        if (!lastWasRecord) {
            if (!tapeOperation(out, MTWEOF, 1))
                return 1;
        } else if (::write(out, record.data(), length) != static_cast<ssize_t>(length)) {
            std::fprintf(stderr, "st-driver-tool: writing a record of %u bytes: %s\n", length,
                std::strerror(errno));
            return 1;
        }
    }
    // st ends a tape whose last object is a record with a filemark when it is
    // closed, unless the last operation was a tape operation: writing no
    // filemark at all is one.
    if (lastWasRecord && !tapeOperation(out, MTWEOF, 0))
        return 1;
    const bool rewound = tapeOperation(out, MTREW, 1);
    ::close(out);
    ::close(in);
    return rewound ? 0 : 1;
}

int writeAsRead(const char *tapPath, const char *outPath)
{
    const int in = ::open(tapPath, O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    TapWriter out;
    if (in < 0 || ::fstat(in, &info) != 0 || !out.open(outPath)) {
        std::fprintf(stderr, "st-driver-tool: cannot open %s or %s\n", tapPath, outPath);
        return 1;
    }
    TapFile tape(in, info.st_size);
    std::vector<unsigned char> record(kLargestRecord);
    bool written = true;
    for (;;) {
        std::uint32_t length = 0;
        const TapFile::Object object = tape.read(record.data(), kLargestRecord, length);
        if (object.kind == TapFile::Kind::End) {
            if (object.endOfMedium)
                written = written && out.writeEndOfMedium();
            break;
        }
        if (object.kind == TapFile::Kind::Mark)
            written = written && out.writeTapeMark();
        else
            written = written
                && out.writeRecord(record.data(), object.error ? 0 : length, object.error);
    }
    ::close(in);
    return written && out.close() ? 0 : 1;
}

std::uint64_t fnv1a(const unsigned char *data, std::size_t length)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

HANDLE openAndLoad()
{
    HANDLE tape = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    std::printf("open %u\n", tape == INVALID_HANDLE_VALUE ? GetLastError() : 0u);
    if (tape != INVALID_HANDLE_VALUE)
        std::printf("load %u\n", PrepareTape(tape, TAPE_LOAD, TRUE));
    return tape;
}

void printPosition(HANDLE tape, const char *label)
{
    DWORD partition = 0;
    DWORD low = 0;
    DWORD high = 0;
    const DWORD error = GetTapePosition(tape, TAPE_ABSOLUTE_POSITION, &partition, &low, &high);
    std::printf("%s %u %u\n", label, error, error == NO_ERROR ? low : 0u);
}

void printMedia(HANDLE tape)
{
    TAPE_GET_MEDIA_PARAMETERS media {};
    DWORD size = sizeof(media);
    // The figures themselves differ (a drive counts whole MiB): whether any data is
    // recorded is what the imaging run's first test depends on.
    if (GetTapeParameters(tape, GET_TAPE_MEDIA_INFORMATION, &size, &media) != NO_ERROR)
        std::printf("media failed\n");
    else
        std::printf("media %s\n",
            media.Capacity.QuadPart > media.Remaining.QuadPart ? "recorded" : "blank");
}

// Each read into a zeroed buffer: the bytes past what the read returned must stay zero.
void readToEnd(HANDLE tape, unsigned char *buffer)
{
    int endsInARow = 0;
    for (int i = 0; i < kMostReads && endsInARow < 2; ++i) {
        std::memset(buffer, 0, kReadLength);
        DWORD got = 0;
        ReadFile(tape, buffer, kReadLength, &got, nullptr);
        const DWORD error = GetLastError();
        endsInARow = error == ERROR_NO_DATA_DETECTED ? endsInARow + 1 : 0;
        std::size_t dirty = 0;
        for (DWORD at = got; at < kReadLength; ++at)
            dirty += buffer[at] != 0;
        // A record that could not be read: a drive gives no bytes, the .tap file its own.
        if (error == ERROR_CRC)
            std::printf("read %u", error);
        else
            std::printf("read %u %u %016llx", error, got,
                static_cast<unsigned long long>(fnv1a(buffer, got)));
        std::printf(dirty ? " tail-dirty %zu" : " tail-clean", dirty);
        printPosition(tape, ", at");
    }
}

int walk()
{
    HANDLE tape = openAndLoad();
    if (tape == INVALID_HANDLE_VALUE)
        return 1;
    // No media query yet: before the end of data is known a drive's whole-MiB
    // figures may say nothing is recorded (the imaging run asks after spacing).
    std::printf("status %u\n", GetTapeStatus(tape));
    std::printf("space-to-end %u\n", SetTapePosition(tape, TAPE_SPACE_END_OF_DATA, 0, 0, 0, 0));
    printPosition(tape, "end-of-data");
    printMedia(tape);
    std::printf("rewind %u\n", SetTapePosition(tape, TAPE_ABSOLUTE_BLOCK, 0, 0, 0, 0));
    printPosition(tape, "start");
    // Aligned, so that st may read into it directly (what a careless transport
    // sends past the record then lands here).
    void *memory = nullptr;
    if (posix_memalign(&memory, 4096, kReadLength) != 0)
        return 1;
    readToEnd(tape, static_cast<unsigned char *>(memory));
    std::free(memory);
    DWORD returned = 0;
    std::printf("eject %d\n",
        DeviceIoControl(tape, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr)
            ? 0
            : int(GetLastError()));
    std::printf("status %u\n", GetTapeStatus(tape));
    CloseHandle(tape);
    tape = openAndLoad();
    if (tape == INVALID_HANDLE_VALUE)
        return 1;
    std::printf("status %u\n", GetTapeStatus(tape));
    printPosition(tape, "start");
    CloseHandle(tape);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "write") == 0)
        return writeTape(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "as-read") == 0)
        return writeAsRead(argv[2], argv[3]);
    if (argc == 2 && std::strcmp(argv[1], "walk") == 0)
        return walk();
    std::fprintf(stderr,
        "usage: st-driver-tool write TAPE.tap DEVICE | st-driver-tool as-read TAPE.tap OUT.tap | "
        "st-driver-tool walk\n");
    return 2;
}
