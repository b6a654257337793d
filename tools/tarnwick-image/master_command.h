#pragma once
/**
 * @file
 * --format tap: a lossless master of the tape, read from its start to the end
 * of its data and written as a .tap file, the format the virtual tape reads:
 * every block at its own length, every tape mark, a block that could not be
 * read as a flagged record of what the drive returned, the end of the medium
 * where the drive reports it. No rule of the window's format applies: the run
 * never ends on an estimate, and nothing is cut or padded.
 *
 * An unreadable block is read again a bounded number of times (--retries),
 * then kept flagged and passed over when the drive can space past it.
 */
#include "tools/tarnwick-image/options.h"

/// Runs it; returns the exit code.
int runMaster(const Options &options);
