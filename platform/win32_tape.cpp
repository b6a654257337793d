#include "platform/win32_tape.h"

#include "platform/backend/tape_backend.h"
#include "platform/st/st_tape.h"
#include "platform/tap/virtual_tape.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

// wchar_t holds UTF-32 on Linux.
std::string toUtf8(LPCWSTR text)
{
    std::string out;
    for (; text && *text; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The DWORD tape calls return their code and leave it in the last error too.
DWORD reported(DWORD error)
{
    SetLastError(error);
    return error;
}

TapeBackend *backend(HANDLE handle)
{
    return dynamic_cast<TapeBackend *>(lookupHandle(handle));
}

} // namespace

HANDLE OpenTapeFilter(
    HANDLE tape, const std::function<std::unique_ptr<TapeBackend>(TapeBackend &)> &make)
{
    TapeBackend *inner = backend(tape);
    if (!inner) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return registerHandle(make(*inner));
}

std::string TapeDevicePath(const std::string &name)
{
    if (name == "//./Tape0" || name == "\\\\.\\Tape0") {
        const char *tape = std::getenv("TAPE");
        return tape && *tape ? std::string(tape) : std::string("/dev/nst0");
    }
    return name;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    const std::string path = TapeDevicePath(toUtf8(fileName));
    struct stat info = {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::unique_ptr<TapeBackend> tape;
    if (S_ISCHR(info.st_mode))
        tape = StTape::open(path, error);
    else if (S_ISREG(info.st_mode))
        tape = VirtualTape::open(path, error);
    if (!tape) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(NO_ERROR);
    return registerHandle(std::move(tape));
}

DWORD PrepareTape(HANDLE device, DWORD operation, BOOL)
{
    TapeBackend *tape = backend(device);
    if (!tape)
        return reported(ERROR_INVALID_HANDLE);
    if (operation != TAPE_LOAD && operation != TAPE_UNLOAD)
        return reported(ERROR_NOT_SUPPORTED);
    return reported(tape->prepare(operation == TAPE_UNLOAD));
}

DWORD GetTapeParameters(HANDLE device, DWORD operation, LPDWORD size, LPVOID information)
{
    TapeBackend *tape = backend(device);
    if (!tape)
        return reported(ERROR_INVALID_HANDLE);
    if (operation != GET_TAPE_MEDIA_INFORMATION)
        return reported(ERROR_NOT_SUPPORTED);
    if (!size || !information || *size < sizeof(TAPE_GET_MEDIA_PARAMETERS))
        return reported(ERROR_MORE_DATA);
    TapeMediaInfo media;
    const DWORD error = tape->mediaInfo(media);
    if (error != NO_ERROR)
        return reported(error);
    auto *out = static_cast<TAPE_GET_MEDIA_PARAMETERS *>(information);
    out->Capacity.QuadPart = media.capacity;
    out->Remaining.QuadPart = media.remaining;
    out->BlockSize = media.blockSize;
    out->PartitionCount = media.partitionCount;
    out->WriteProtected = media.writeProtected ? 1 : 0;
    *size = sizeof(TAPE_GET_MEDIA_PARAMETERS);
    return reported(NO_ERROR);
}

DWORD SetTapeParameters(HANDLE device, DWORD operation, LPVOID information)
{
    TapeBackend *tape = backend(device);
    if (!tape)
        return reported(ERROR_INVALID_HANDLE);
    if (operation != SET_TAPE_MEDIA_INFORMATION)
        return reported(ERROR_NOT_SUPPORTED);
    if (!information)
        return reported(ERROR_INVALID_PARAMETER);
    return reported(
        tape->setBlockSize(static_cast<TAPE_SET_MEDIA_PARAMETERS *>(information)->BlockSize));
}

DWORD GetTapeStatus(HANDLE device)
{
    TapeBackend *tape = backend(device);
    return tape ? reported(tape->status()) : reported(ERROR_INVALID_HANDLE);
}

DWORD SetTapePosition(
    HANDLE device, DWORD positionMethod, DWORD, DWORD offsetLow, DWORD offsetHigh, BOOL)
{
    TapeBackend *tape = backend(device);
    if (!tape)
        return reported(ERROR_INVALID_HANDLE);
    switch (positionMethod) {
    case TAPE_SPACE_END_OF_DATA:
        return reported(tape->spaceToEndOfData());
    case TAPE_SPACE_RELATIVE_BLOCKS:
        return reported(tape->spaceRecords(
            static_cast<std::int64_t>(std::uint64_t(offsetHigh) << 32 | offsetLow)));
    case TAPE_REWIND:
        return reported(tape->seekBlock(0));
    case TAPE_ABSOLUTE_BLOCK:
    case TAPE_LOGICAL_BLOCK:
        return reported(tape->seekBlock(std::uint64_t(offsetHigh) << 32 | offsetLow));
    default:
        return reported(ERROR_NOT_SUPPORTED);
    }
}

DWORD GetTapePosition(
    HANDLE device, DWORD positionType, LPDWORD partition, LPDWORD offsetLow, LPDWORD offsetHigh)
{
    TapeBackend *tape = backend(device);
    if (!tape)
        return reported(ERROR_INVALID_HANDLE);
    if (positionType != TAPE_ABSOLUTE_POSITION && positionType != TAPE_LOGICAL_POSITION)
        return reported(ERROR_NOT_SUPPORTED);
    std::uint64_t block = 0;
    const DWORD error = tape->position(block);
    if (error != NO_ERROR)
        return reported(error);
    if (partition)
        *partition = positionType == TAPE_LOGICAL_POSITION ? 1 : 0;
    if (offsetLow)
        *offsetLow = static_cast<DWORD>(block);
    if (offsetHigh)
        *offsetHigh = static_cast<DWORD>(block >> 32);
    return reported(NO_ERROR);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED)
{
    if (bytesRead)
        *bytesRead = 0;
    TapeBackend *tape = backend(file);
    if (!tape) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!buffer && bytesToRead > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint32_t got = 0;
    const DWORD error = tape->read(buffer, bytesToRead, got);
    if (bytesRead)
        *bytesRead = got;
    SetLastError(error);
    return error == NO_ERROR ? TRUE : FALSE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID, DWORD, LPVOID, DWORD,
    LPDWORD bytesReturned, LPOVERLAPPED)
{
    if (bytesReturned)
        *bytesReturned = 0;
    TapeBackend *tape = backend(device);
    if (!tape) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ioControlCode != IOCTL_STORAGE_EJECT_MEDIA) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const DWORD error = tape->eject();
    SetLastError(error);
    return error == NO_ERROR ? TRUE : FALSE;
}
