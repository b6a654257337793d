#include "tools/tarnwick-image/drive_info.h"

#include "archive/drive_session.h"
#include "archive/drive_words.h"
#include "imaging/imaging_state.h"
#include "platform/drive_report.h"
#include "platform/win32_tape.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

namespace {

QString identityLine(const RunRecord::Record &record)
{
    if (record.deviceKind == QLatin1String("virtual tape"))
        return QStringLiteral("%1: a virtual tape (a .tap file read as a tape)")
            .arg(record.devicePath);
    if (record.vendor.isEmpty() && record.product.isEmpty())
        return QStringLiteral("%1: a %2 that does not say who it is")
            .arg(record.devicePath, record.deviceKind);
    QString line = QStringLiteral("%1: %2 %3 %4")
                       .arg(record.devicePath, record.deviceKind, record.vendor, record.product);
    if (!record.revision.isEmpty())
        line += QStringLiteral(", revision ") + record.revision;
    if (!record.serial.isEmpty())
        line += QStringLiteral(", serial number ") + record.serial;
    return line;
}

} // namespace

int showDriveInfo()
{
    // Loading does not read the tape; a drive without one still tells of itself.
    if (const int code = ExitCode::of(DriveSession::connect()))
        return code;
    RunRecord::Record record;
    record.devicePath = DriveSession::devicePath();
    DriveSession::describe(record);
    QStringList lines { identityLine(record) };
    if (GetTapeStatus(ImagingState::tapeHandle) == ERROR_NO_MEDIA_IN_DRIVE)
        lines << QStringLiteral("no cartridge in the drive");
    DriveFacts facts;
    if (QueryDriveFacts(ImagingState::tapeHandle, facts) == ERROR_NOT_SUPPORTED
        && facts.access.empty()) {
        lines << QStringLiteral("a virtual tape keeps no sense data, TapeAlert flags, error "
                                "counters, block limits or cartridge memory");
    } else {
        lines << DriveWords::describe(facts);
    }
    Console::out(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return ExitCode::Complete;
}
