#pragma once
/**
 * @file
 * After a run: how much of the tape its image holds, and the words for it. The
 * engine's run and the master's each have their rules (see rescue_reader.h for
 * the master's); both answer with a Judgement, which the run record keeps.
 */
#include "archive/run_record.h"
#include "platform/backend/win32_types.h"

#include <QString>

class TapeLog;

struct Judgement
{
    RunRecord::Verdict verdict = RunRecord::Verdict::NotKnown;
    QString text;
};

namespace RunJudge {

/**
 * Judges an image the engine completed, having logged @p log, on a tape whose
 * data ends after @p endOfData blocks and marks. Where the engine ended early,
 * @p drive (left where the engine stopped) is read on to see whether any block
 * follows: marks alone carry nothing, a block means the image stops short.
 */
Judgement engineRun(const TapeLog &log, HANDLE drive, quint64 endOfData);

/**
 * @p judgement of a run on @p drive that read @p objectsRead blocks and marks, naming
 * where the drive's medium was found damaged (a virtual tape whose file is damaged: where,
 * and how much could not be read after it): such an image is not complete. An image that
 * stops short only of the damage (marks aside) holds all that can be read, as one with an
 * unreadable block does.
 */
Judgement withDamage(HANDLE drive, quint64 objectsRead, Judgement judgement);

} // namespace RunJudge
