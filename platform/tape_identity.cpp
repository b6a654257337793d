#include "platform/tape_identity.h"

DWORD QueryTapeIdentity(HANDLE device, TapeIdentity &identity)
{
    auto *tape = dynamic_cast<TapeBackend *>(lookupHandle(device));
    const DWORD error = tape ? tape->identify(identity) : ERROR_INVALID_HANDLE;
    SetLastError(error);
    return error;
}
