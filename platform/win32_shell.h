#pragma once
/**
 * @file
 * ShellExecuteW: starts a program detached, the way the Windows shell does.
 */
#include "platform/backend/win32_types.h"

#include <functional>

class QString;
class QStringList;

using HWND = void *;
using HINSTANCE = void *;

constexpr int SW_SHOWNORMAL = 1;

/**
 * Starts @p file detached with the arguments in @p parameters; the working
 * folder is inherited when @p directory is null. Only the "open" verb is
 * known. @p parameters is either one argument enclosed in double quotes
 * (taken as it stands between them, so blanks stay inside) or one argument
 * without blanks.
 *
 * Returns a value above 32 on success and ERROR_FILE_NOT_FOUND (2) when the
 * program could not be started, as the shell does.
 */
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int showCommand);

namespace Win32Shell {
/// The arguments ShellExecuteW hands the program for a parameters text.
QStringList splitParameters(const QString &parameters);
} // namespace Win32Shell
