#include "tools/tarnwick-image/image_check.h"

#include "archive/image_report.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

int inspectImage(const QByteArray &path, bool verifyChecksum)
{
    const ImageVerdict::Judgement judgement = ImageVerdict::judge(path);
    if (!judgement.exists) {
        return Console::fail(ExitCode::NotComplete,
            QStringLiteral("%1: %2").arg(Console::shown(path), judgement.summary));
    }
    QString report = ImageReport::describe(path, judgement);
    const bool matches = !verifyChecksum || ImageReport::checkChecksum(path, judgement, report);
    Console::out(report);
    return matches ? ExitCode::ofVerdict(judgement.verdict) : ExitCode::NotComplete;
}
