#include "platform/win32_shell.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace Win32Shell {

QStringList splitParameters(const QString &parameters)
{
    if (parameters.isEmpty())
        return {};
    const QChar quote(QLatin1Char('"'));
    if (parameters.size() >= 2 && parameters.startsWith(quote) && parameters.endsWith(quote))
        return {parameters.mid(1, parameters.size() - 2)};
    return {parameters};
}

} // namespace Win32Shell

HINSTANCE ShellExecuteW(HWND, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int)
{
    const QString verb = operation ? QString::fromWCharArray(operation) : QStringLiteral("open");
    if (verb != QLatin1String("open") || !file)
        return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(ERROR_INVALID_PARAMETER));

    const QString program = QString::fromWCharArray(file);
    const QStringList arguments
        = Win32Shell::splitParameters(parameters ? QString::fromWCharArray(parameters) : QString());
    const QString workingDirectory = directory ? QString::fromWCharArray(directory) : QString();
    if (!QProcess::startDetached(program, arguments, workingDirectory))
        return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(ERROR_FILE_NOT_FOUND));
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(42));
}
