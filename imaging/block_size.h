#pragma once
/**
 * @file
 * The block sizes a user can image at: "Auto" (each block at its own
 * length) or a fixed record length.
 */
#include <QString>
#include <QStringList>

namespace BlockSize {

/// The text of the entry that takes every block at its own length.
QString autoText();

/// The entries of the block-size list, in list order ("Auto" first; 1024 is not offered).
QStringList entries();

/// Whether @p text names a fixed size (exact match). 1024 counts, although the
/// list does not offer it, so that a fixed size never shows the recommended caption.
bool isFixedSize(const QString &text);

} // namespace BlockSize
