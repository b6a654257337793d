#pragma once
/**
 * @file
 * The handful of Win32 base types and values that the platform layer's
 * Win32-named calls use. On Windows this header would include <windows.h>
 * instead; that build is not made here.
 */
#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using HANDLE = void *;
using LPVOID = void *;
using LPDWORD = DWORD *;
using LPCWSTR = const wchar_t *;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/// The value a failed CreateFileW returns.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

// Windows error codes that the layer reports through GetLastError().
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_CRC = 23; ///< data error (cyclic redundancy check)
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_END_OF_MEDIA = 1100;
constexpr DWORD ERROR_FILEMARK_DETECTED = 1101;
constexpr DWORD ERROR_BEGINNING_OF_MEDIA = 1102;
constexpr DWORD ERROR_NO_DATA_DETECTED = 1104;
constexpr DWORD ERROR_NO_MEDIA_IN_DRIVE = 1112;
constexpr DWORD ERROR_MEDIA_CHANGED = 1110;
