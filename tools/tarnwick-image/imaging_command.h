#pragma once
/**
 * @file
 * One imaging run from the command line in the window's format: the window's
 * road from the option page's "Next" to "Image Created", without the window,
 * and then what the window does not say: whether the image holds the whole
 * tape, and which blocks are not whole in it.
 */
#include "tools/tarnwick-image/options.h"

/// Runs it (or the master's run for --format tap); returns the exit code.
int runImaging(const Options &options);
