#include "app/korveltapedrive.h"
#include "common/app_globals.h"
#include "imaging/imaging_state.h"
#include "platform/win32_shell.h"

#include <QCoreApplication>
#include <QDir>

#include <string>

namespace {

// Starts the scanner beside the program with the image as its one argument,
// then ends this application whatever the start gave: the scanner takes over.
void handOverToScanner(QString &path)
{
    path = QDir::toNativeSeparators(path); // the stored path itself is converted
    const QString parameters = QLatin1Char('"') + path + QLatin1Char('"');
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/quorlin");
    const std::wstring file = program.toStdWString();
    const std::wstring arguments = parameters.toStdWString();
    ShellExecuteW(nullptr, L"open", file.c_str(), arguments.c_str(), nullptr, SW_SHOWNORMAL);
    QCoreApplication::quit();
}

} // namespace

void KorvelTapeDrive::ScanexeCreate()
{
    handOverToScanner(ImagingState::imagePath);
}

void KorvelTapeDrive::Scanexe()
{
    handOverToScanner(loadedImagePath);
}
