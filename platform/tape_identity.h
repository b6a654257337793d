#pragma once
/**
 * @file
 * Who the tape device behind a handle is, for the command line's run record.
 * The window reads no drive details and never calls this.
 */
#include "platform/backend/tape_backend.h"

/**
 * Fills @p identity: the kind of device and, for a drive that answers SCSI
 * INQUIRY (through its st node, or its generic node when that one is
 * accessible), its vendor, product, revision and serial number.
 * @return NO_ERROR, or why the drive did not answer (the kind is set anyway).
 */
DWORD QueryTapeIdentity(HANDLE device, TapeIdentity &identity);
