#pragma once
/**
 * @file
 * --merge: masters of one tape from different drives or runs made into the
 * best master, written as any master is (a partial file renamed when whole,
 * its run record and its map beside it); --map-picture: a rescue map drawn.
 */
#include "tools/tarnwick-image/options.h"

/// Runs --merge; returns the exit code.
int runMerge(const Options &options);

/// Runs --map-picture; returns the exit code.
int runMapPicture(const Options &options);
