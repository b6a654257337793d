#pragma once
/**
 * @file
 * What the drive behind a handle tells beyond its data (drive_facts.h), for the
 * command line and its run record. The window never calls this.
 */
#include "platform/backend/tape_backend.h"

/// All the drive says of itself and the loaded cartridge, without reading the tape.
DWORD QueryDriveFacts(HANDLE device, DriveFacts &facts);
/// The cartridge's memory alone (its barcode names a master before the run reads anything).
DWORD QueryCartridge(HANDLE device, CartridgeFacts &cartridge);
/// TapeAlert and the read error counters; reading TapeAlert clears its flags.
DWORD QueryDriveAlerts(HANDLE device, TapeAlertFacts &alerts, ErrorCounterFacts &counters);
/// The sense of a failed read of record @p block (0-based, marks counted); the tape stays put.
DWORD QueryReadFailure(HANDLE device, std::uint64_t block, ReadFailureFacts &failure);
