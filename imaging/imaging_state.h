#pragma once
/**
 * @file
 * Layer imaging/ (library tarnwick_imaging): this state, the image file, the
 * engine. Uses the platform layers below it; never tape/ or anything above.
 *
 * The shared imaging state: process-wide values through which the main
 * window's slots, the tape workers and the imaging engine exchange what they
 * know about the drive and the image.
 *
 * None of these is locked or atomic on purpose: the GUI thread starts one
 * worker at a time and reads a worker's results only after isFinished() has
 * returned true, which orders the worker's writes before the reads.
 */
#include "platform/backend/win32_types.h"

#include <QString>
#include <QtGlobal>

namespace ImagingState {

constexpr DWORD kReadLength = 0x80001; ///< one byte more than the largest block size

extern HANDLE tapeHandle;          ///< last open attempt, kept even when invalid
extern bool driveOpen;             ///< the last open returned a valid handle
extern DWORD loadStatus;           ///< last PrepareTape result; 0 = loaded, 1 = not yet
extern bool busy;                  ///< connection sequence or imaging in progress
extern qint64 mediaCapacity;       ///< Capacity of the last media query
extern qint64 mediaRemaining;      ///< Remaining of the last media query
extern qint64 totalBytes;          ///< amount of data to image
extern qint64 bytesDone;           ///< record bytes written in the current run
extern quint64 blockCount;         ///< blocks before the end of data
extern DWORD chosenBlockSize;      ///< length of the record being written; 0 between runs
extern DWORD lastReadLength;       ///< byte count of the last block read
extern QString blockSizeText;      ///< "Auto" or a decimal number; null until chosen
extern QString imagePath;          ///< full name of the image file to create
extern bool runFlag;               ///< the run may go on
extern bool abortFlag;             ///< a run was abandoned because of the block size
extern bool progressPagePrepared;  ///< a run was started before
extern unsigned char *readBuffer;  ///< kReadLength bytes during a run, else null
extern bool ejectFlag;             ///< eject the tape when the image is complete
extern bool turnOffFlag;           ///< turn the computer off when the image is complete

} // namespace ImagingState
