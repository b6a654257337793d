#pragma once
/**
 * @file
 * Whether an image holds the whole tape: the one set of rules that the
 * imager's --inspect and the scanner both state, so that they never
 * contradict the run that made the image.
 *
 * The run record beside the image is the best witness: the run knew where the
 * tape's data ended and what it read. Without it, only what the file shows is
 * said: a .tape file without trailer is unfinished; with a trailer it is
 * well-formed, but whether it holds the whole tape is not known (the window's
 * rules can end a run before the end of data, and the trailer looks the same).
 */
#include "archive/run_record.h"
#include "imaging/image_file.h"

#include <QStringList>

namespace ImageVerdict {

struct Judgement
{
    RunRecord::Verdict verdict = RunRecord::Verdict::NotKnown;
    QString summary; ///< one line: the verdict and why
    QStringList notes; ///< what is not known, or why the run record was not used
    bool exists = false;
    qint64 fileSize = 0;
    bool isTap = false; ///< a .tap master rather than a .tape image
    bool fromRecord = false;
    RunRecord::Record record; ///< the run record, when there is one that fits the file
    ImageFile::Trailer trailer; ///< for a .tape image
    qint64 tapObjects = 0; ///< for a .tap file: blocks and marks in it
};

/// Judges the image @p path (native bytes, see NativeFile).
Judgement judge(const QByteArray &path);

/// How the image compares with the checksum its run recorded.
enum class Checksum {
    NotRecorded, ///< no .sha256 file and no checksum in the run record
    Matches,
    Differs, ///< it changed after the run (or cannot be read: @p actual is then empty)
};

/**
 * Hashes the image @p path and compares it with the checksum the run recorded:
 * the .sha256 file beside it, else the run record's in @p judgement. Sets
 * @p actual to the image's checksum (empty when it cannot be read).
 */
Checksum checkChecksum(const QByteArray &path, const Judgement &judgement, QString &actual);

/// "yes", "no", "not known" ... for a "complete:" line.
QString completeWord(RunRecord::Verdict verdict);

} // namespace ImageVerdict
