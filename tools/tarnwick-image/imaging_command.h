#pragma once
/**
 * @file
 * One imaging run from the command line: the window's road from the option
 * page's "Next" to "Image Created", without the window.
 */
#include "tools/tarnwick-image/options.h"

/// Runs it; returns the exit code.
int runImaging(const Options &options);
