#pragma once
/**
 * @file
 * What --inspect tells of an image file: what it is, its trailer, its run
 * record, whether it holds the whole tape, and how it stands against its
 * checksum. One "label: value" line each.
 */
#include "archive/image_verdict.h"

namespace ImageReport {

/// The lines that describe the file at @p path as @p judgement found it.
QString describe(const QByteArray &path, const ImageVerdict::Judgement &judgement);

/// Checks the file against its recorded checksum and adds the line that says how it
/// stands to @p report; false when the file does not match.
bool checkChecksum(
    const QByteArray &path, const ImageVerdict::Judgement &judgement, QString &report);

} // namespace ImageReport
