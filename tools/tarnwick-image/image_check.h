#pragma once
/**
 * @file
 * --inspect: what an image file is, whether it holds the whole tape (by the
 * rules the scanner states too), and its run record; --verify checks it
 * against its checksum.
 */
#include <QByteArray>

/// Prints the report on stdout; returns the exit code of the verdict.
int inspectImage(const QByteArray &path, bool verify);
