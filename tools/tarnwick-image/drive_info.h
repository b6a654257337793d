#pragma once
/**
 * @file
 * tarnwick-image --drive-info: what the drive and the loaded cartridge tell
 * of themselves, without reading the tape.
 */

/// Prints the drive's identity, limits, mode, TapeAlert, counters and cartridge; an exit code.
int showDriveInfo();
