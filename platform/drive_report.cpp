#include "platform/drive_report.h"

namespace {

TapeBackend *backend(HANDLE device)
{
    return dynamic_cast<TapeBackend *>(lookupHandle(device));
}

DWORD done(DWORD error)
{
    SetLastError(error);
    return error;
}

} // namespace

DWORD QueryDriveFacts(HANDLE device, DriveFacts &facts)
{
    TapeBackend *tape = backend(device);
    return done(tape ? tape->driveFacts(facts) : ERROR_INVALID_HANDLE);
}

DWORD QueryCartridge(HANDLE device, CartridgeFacts &cartridge)
{
    TapeBackend *tape = backend(device);
    return done(tape ? tape->cartridge(cartridge) : ERROR_INVALID_HANDLE);
}

DWORD QueryDriveAlerts(HANDLE device, TapeAlertFacts &alerts, ErrorCounterFacts &counters)
{
    TapeBackend *tape = backend(device);
    return done(tape ? tape->driveAlerts(alerts, counters) : ERROR_INVALID_HANDLE);
}

DWORD QueryReadFailure(HANDLE device, std::uint64_t block, ReadFailureFacts &failure)
{
    TapeBackend *tape = backend(device);
    return done(tape ? tape->readFailure(block, failure) : ERROR_INVALID_HANDLE);
}
