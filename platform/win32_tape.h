#pragma once
/**
 * @file
 * Layer platform/ (library tarnwick_platform): the Win32-named facade. Uses
 * platform/backend, platform/st and platform/tap; callers above use the facade,
 * never the handle table or a backend directly.
 *
 * The Windows tape interface, as the rest of the program calls it.
 *
 * The names, arguments, constants and structs are those of kernel32; on
 * Windows this header would include <windows.h> instead (that build is not
 * made here). On Linux each call is served by one of two backends, chosen by
 * CreateFileW when the device is opened:
 *  - a character device is a SCSI tape drive driven through the st driver
 *    (StTape, see platform/st/st_tape.h);
 *  - a regular file is a virtual tape in the SIMH magtape format
 *    (VirtualTape, see platform/tap/virtual_tape.h).
 *
 * Calls that return a DWORD return NO_ERROR or a Windows error code and also
 * leave that code in GetLastError(); calls that return a BOOL leave the code
 * in GetLastError() when they return FALSE. Error codes used:
 * ERROR_FILEMARK_DETECTED (1101), ERROR_NO_DATA_DETECTED (1104),
 * ERROR_NO_MEDIA_IN_DRIVE (1112), ERROR_NOT_READY (21), ERROR_CRC (23, a
 * record that could not be read), ERROR_MORE_DATA (234, a record longer than
 * the buffer), ERROR_SHARING_VIOLATION (32, the device is open elsewhere),
 * ERROR_FILE_NOT_FOUND (2), ERROR_ACCESS_DENIED (5), ERROR_IO_DEVICE (1117),
 * ERROR_INVALID_HANDLE (6), ERROR_INVALID_PARAMETER (87), ERROR_NOT_SUPPORTED (50).
 */
#include "platform/backend/win32_handles.h"
#include "platform/backend/win32_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TapeBackend;

using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using BOOLEAN = unsigned char;

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;
using LPOVERLAPPED = OVERLAPPED *;

/// A signed 64-bit value with its 32-bit halves.
union LARGE_INTEGER {
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

/// What GetTapeParameters(GET_TAPE_MEDIA_INFORMATION) fills in (32 bytes).
struct TAPE_GET_MEDIA_PARAMETERS
{
    LARGE_INTEGER Capacity; ///< bytes the medium holds
    LARGE_INTEGER Remaining; ///< bytes still free after the recorded data
    DWORD BlockSize; ///< 0: variable block mode
    DWORD PartitionCount;
    BOOLEAN WriteProtected;
};
static_assert(sizeof(TAPE_GET_MEDIA_PARAMETERS) == 32, "callers pass 32 as its size");

/// What SetTapeParameters(SET_TAPE_MEDIA_INFORMATION) takes.
struct TAPE_SET_MEDIA_PARAMETERS
{
    DWORD BlockSize; ///< 0: variable block mode
};

// CreateFileW
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020u;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;

// PrepareTape
constexpr DWORD TAPE_LOAD = 0;
constexpr DWORD TAPE_UNLOAD = 1;

// GetTapeParameters / SetTapeParameters
constexpr DWORD GET_TAPE_MEDIA_INFORMATION = 0;
constexpr DWORD GET_TAPE_DRIVE_INFORMATION = 1;
constexpr DWORD SET_TAPE_MEDIA_INFORMATION = 0;
constexpr DWORD SET_TAPE_DRIVE_INFORMATION = 1;

// SetTapePosition
constexpr DWORD TAPE_REWIND = 0;
constexpr DWORD TAPE_ABSOLUTE_BLOCK = 1;
constexpr DWORD TAPE_LOGICAL_BLOCK = 2;
constexpr DWORD TAPE_SPACE_END_OF_DATA = 4;
constexpr DWORD TAPE_SPACE_RELATIVE_BLOCKS = 5;

// GetTapePosition
constexpr DWORD TAPE_ABSOLUTE_POSITION = 0;
constexpr DWORD TAPE_LOGICAL_POSITION = 1;

// DeviceIoControl
constexpr DWORD IOCTL_STORAGE_EJECT_MEDIA = 0x002D4808u;

/**
 * Opens a tape device. "//./Tape0" (or "\\.\Tape0") is the first drive: the
 * path in the environment variable TAPE, else /dev/nst0. Any other name is
 * taken as a path. A character device opens the st backend, a regular file
 * the virtual tape backend. Share mode 0 opens exclusively: a second open of
 * the same device or file, from any process, fails with
 * ERROR_SHARING_VIOLATION. The tape is only ever read, so the access flags
 * are accepted but the device is opened for reading.
 * @return the handle, or INVALID_HANDLE_VALUE with the reason in GetLastError().
 */
/**
 * A handle for a backend that stands in front of the tape behind @p tape (which
 * must stay open while the new handle is used), made by @p make from that tape.
 * INVALID_HANDLE_VALUE with ERROR_INVALID_HANDLE when @p tape is not an open tape.
 */
HANDLE OpenTapeFilter(
    HANDLE tape, const std::function<std::unique_ptr<TapeBackend>(TapeBackend &)> &make);

/// The file CreateFileW opens for the device name @p name (UTF-8).
std::string TapeDevicePath(const std::string &name);

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
    LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
    HANDLE templateFile);

/// TAPE_LOAD loads the medium; TAPE_UNLOAD unloads it. @p immediate is accepted and ignored.
DWORD PrepareTape(HANDLE device, DWORD operation, BOOL immediate);

/**
 * GET_TAPE_MEDIA_INFORMATION fills a TAPE_GET_MEDIA_PARAMETERS; @p size must
 * be at least 32 on entry and is set to 32. On failure the struct is left
 * alone. GET_TAPE_DRIVE_INFORMATION is not supported.
 */
DWORD GetTapeParameters(HANDLE device, DWORD operation, LPDWORD size, LPVOID information);

/// SET_TAPE_MEDIA_INFORMATION sets the block size (0 = variable) from a TAPE_SET_MEDIA_PARAMETERS.
DWORD SetTapeParameters(HANDLE device, DWORD operation, LPVOID information);

/// NO_ERROR when the drive is ready with a medium; else ERROR_NOT_READY or ERROR_NO_MEDIA_IN_DRIVE.
DWORD GetTapeStatus(HANDLE device);

/**
 * TAPE_SPACE_END_OF_DATA moves to the end of the recorded data; TAPE_REWIND,
 * and TAPE_ABSOLUTE_BLOCK / TAPE_LOGICAL_BLOCK with block 0, rewind. The
 * virtual tape also seeks to any other block number. Positions count records
 * and tape marks alike. TAPE_SPACE_RELATIVE_BLOCKS moves over the signed
 * 64-bit count of records in @p offsetHigh:@p offsetLow (backwards when
 * negative); a tape mark on the way ends it with ERROR_FILEMARK_DETECTED.
 */
DWORD SetTapePosition(HANDLE device, DWORD positionMethod, DWORD partition, DWORD offsetLow,
    DWORD offsetHigh, BOOL immediate);

/// The current block address (records and tape marks before it). Outputs are untouched on failure.
DWORD GetTapePosition(
    HANDLE device, DWORD positionType, LPDWORD partition, LPDWORD offsetLow, LPDWORD offsetHigh);

/**
 * Reads the next object of the tape. A record gives its bytes (TRUE); a
 * record longer than @p bytesToRead fills the buffer and gives FALSE with
 * ERROR_MORE_DATA (the tape has passed the whole record); a record that could
 * not be read gives FALSE with ERROR_CRC and what the backend has of it (the
 * virtual tape its bytes, a drive none); a tape mark gives 0
 * bytes and ERROR_FILEMARK_DETECTED (the position moves past it); the end of
 * data gives 0 bytes and ERROR_NO_DATA_DETECTED (the position stays); the
 * end of the medium gives 0 bytes and ERROR_END_OF_MEDIA (the position stays).
 * @p bytesRead is always written when not null.
 */
BOOL ReadFile(
    HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);

/// Only IOCTL_STORAGE_EJECT_MEDIA: ejects the medium; later calls fail with
/// ERROR_NO_MEDIA_IN_DRIVE.
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
    LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
