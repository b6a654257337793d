#pragma once
/**
 * @file
 * --inspect: what an image file's trailer says and whether the file is a
 * complete image.
 */
#include <QString>

/// Prints the report on stdout; returns 0 for a complete image, 1 otherwise.
int inspectImage(const QString &path);
