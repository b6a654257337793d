#include "archive/run_judge.h"

#include "archive/tape_log.h"
#include "imaging/imaging_state.h"
#include "platform/tap/virtual_tape.h"
#include "platform/win32_tape.h"

#include <vector>

namespace RunJudge {

namespace {

/// Reads on from where the engine stopped, at most @p objects blocks and marks: whether a
/// block follows before the end of data (tape marks alone carry nothing).
bool dataFollows(HANDLE drive, quint64 objects)
{
    std::vector<unsigned char> buffer(ImagingState::kReadLength);
    for (quint64 i = 0; i < objects; ++i) {
        DWORD got = 0;
        const DWORD error = ReadFile(drive, buffer.data(), ImagingState::kReadLength, &got, nullptr)
            ? NO_ERROR
            : GetLastError();
        if (error == ERROR_NO_DATA_DETECTED || error == ERROR_END_OF_MEDIA)
            return false;
        if (error != ERROR_FILEMARK_DETECTED)
            return true;
    }
    return false;
}

/// Whether the blocks from @p from to @p to of @p drive are tape marks only.
bool onlyMarksBetween(HANDLE drive, quint64 from, quint64 to)
{
    if (SetTapePosition(drive, TAPE_ABSOLUTE_BLOCK, 0, DWORD(from), DWORD(from >> 32), FALSE)
        != NO_ERROR)
        return false;
    return !dataFollows(drive, to - from) || to == from;
}

} // namespace

Judgement engineRun(const TapeLog &log, HANDLE drive, quint64 endOfData)
{
    const quint64 read = log.objects();
    if (read < endOfData && dataFollows(drive, endOfData - read)) {
        return { RunRecord::Verdict::StopsShort,
            QStringLiteral("the image ends after block %1 of %2 blocks and marks; the rest of "
                           "the tape is not in it")
                .arg(read)
                .arg(endOfData) };
    }
    const QString whole = QStringLiteral("every block to the end of data is in the image (%1 "
                                         "blocks and marks)")
                              .arg(endOfData);
    if (log.damageCount() > 0)
        return { RunRecord::Verdict::Damaged, whole + QStringLiteral(", ") + log.damage() };
    return { RunRecord::Verdict::Complete, whole };
}

Judgement withDamage(HANDLE drive, quint64 objectsRead, Judgement judgement)
{
    VirtualTape *tape = VirtualTape::fromHandle(drive);
    if (!tape || !tape->damage().found)
        return judgement;
    const VirtualTape::Damage damage = tape->damage();
    if (judgement.verdict == RunRecord::Verdict::StopsShort
        && onlyMarksBetween(drive, objectsRead, damage.block)) {
        judgement = { RunRecord::Verdict::Damaged,
            QStringLiteral("every block before it is in the image (%1 blocks and marks)")
                .arg(objectsRead) };
    }
    judgement.text
        = QStringLiteral("the virtual tape is damaged at byte %1 of its file (block %2): "
                         "the %3 bytes from there to its end could not be read; ")
              .arg(damage.offset)
              .arg(damage.block + 1)
              .arg(damage.bytesAfter)
        + judgement.text;
    if (judgement.verdict == RunRecord::Verdict::Complete)
        judgement.verdict = RunRecord::Verdict::Damaged;
    return judgement;
}

} // namespace RunJudge
