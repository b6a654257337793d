#pragma once
/**
 * @file
 * Standard tape labels: groups of 80-byte records (VOL1, HDR1, HDR2, EOF1,
 * EOF2, EOV1, ...) in ASCII or EBCDIC that name the volume and, around each
 * tape file, the file they enclose. The file between a header group and its
 * end group is scanned as any other; the label names it.
 */
#include "scanner/core/scan_result.h"

#include <QString>

#include <cstddef>

namespace Quorlin {

class BodyStream;

constexpr qint64 labelLength = 80;

/// True when a label record that opens a group (VOL1, HDR1, EOF1, EOV1), in ASCII or
/// EBCDIC, starts at @p data.
bool isLabelGroupStart(const unsigned char *data, std::size_t available);

/// What a group of label records says.
struct LabelGroup
{
    qint64 length = 0; ///< bytes of the records read
    QString facts; ///< in words, for the listing
    bool header = false; ///< a header group: a file follows
    bool endOfVolume = false; ///< EOV: the file before it goes on on the next volume
    QString fileName; ///< the file identifier of a header group
    char recordFormat = 0; ///< 'F', 'V', 'U' ('D' for ASCII variable records)
    int blockLength = 0;
    int recordLength = 0;
    bool ebcdic = false;
};

/// Reads the label records back to back from @p at (never past @p end).
LabelGroup readLabelGroup(BodyStream &stream, qint64 at, qint64 end);

/// The records of a labelled file as text lines, when they are EBCDIC text: fixed
/// records of @p region's record length, or variable ones (block and record
/// descriptor words). Empty when the data is not text in that form.
QByteArray labelledText(const RawRegion &region, const QByteArray &data);

} // namespace Quorlin
