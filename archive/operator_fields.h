#pragma once
/**
 * @file
 * What the operator says of a cartridge, carried into its run record: a
 * description, the text of a notes file and a photo of the cartridge's label,
 * whose copy goes beside the image as "<image>.label.<ext>". The files are
 * read and checked before anything is imaged, so that a wrong one costs no
 * tape time.
 */
#include "archive/run_record.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace OperatorFields {

constexpr qint64 kLargestNotes = 64 << 10; ///< a page of text, not a document
constexpr qint64 kLargestPhoto = 64 << 20;

/// What the operator gave (on the command line, or a batch for one cartridge).
struct Given
{
    QString description; ///< empty: none
    QByteArray notesPath; ///< native bytes; empty: none
    QByteArray photoPath; ///< native bytes; empty: none
};

/**
 * Reads @p given's files: the fields for the run record into @p fields and the
 * photo's bytes into @p photo. Returns what is wrong with them in one line (a file
 * missing, a link to nothing, a FIFO, too large, notes that are not UTF-8 text),
 * or an empty string.
 */
QString load(const Given &given, RunRecord::Operator &fields, QByteArray &photo);

/// The copy of the label photo beside @p imagePath: "<image>.label.<ext>", the
/// extension taken from the photo's name (lower-case), "<image>.label" without one.
QByteArray photoBeside(const QByteArray &imagePath, const QString &photoName);

/**
 * An earlier run's fields (@p earlier) and this run's (@p given): what the operator gave
 * again wins, field by field (a correction), the rest is kept. Returns a sentence for each
 * field that changed.
 */
QStringList carry(const RunRecord::Operator &earlier, RunRecord::Operator &given);

} // namespace OperatorFields
