#include "archive/library_batch.h"

#include "platform/posix/stop_signals.h"

#include <QRegularExpression>

#include <csignal>

namespace Library {

namespace {

const QString kFailed = QStringLiteral("failed");
const QString kInterrupted = QStringLiteral("interrupted");

} // namespace

ChildJudgement judgeChild(const ChildEnd &end, bool stopping)
{
    ChildJudgement judged;
    const QString cleaning = QStringLiteral("asks to be cleaned");
    for (const QString &message : end.messages)
        judged.driveNeedsCleaning = judged.driveNeedsCleaning || message.contains(cleaning);
    if (end.haveRecord)
        judged.driveNeedsCleaning
            = judged.driveNeedsCleaning || end.record.verdictText.contains(cleaning);
    const bool stopSignal = end.signal == SIGINT || end.signal == SIGTERM || end.signal == SIGHUP;
    using RunRecord::Verdict;
    if (stopSignal || (stopping && end.signal != 0)) {
        judged.verdict = kInterrupted;
    } else if (end.haveRecord && end.record.verdict != Verdict::Unfinished
        && end.record.verdict != Verdict::NotKnown) {
        judged.verdict = RunRecord::verdictName(end.record.verdict);
        if (end.record.verdict != Verdict::Complete)
            judged.errors << end.record.verdictText;
        return judged;
    } else {
        judged.verdict = kFailed;
    }
    judged.errors = end.messages;
    if (!end.started)
        return judged;
    if (end.signal != 0 && !stopSignal)
        judged.errors
            << QStringLiteral("tarnwick-image was ended by %1").arg(StopSignals::name(end.signal));
    else if (judged.verdict == kFailed && end.messages.isEmpty())
        judged.errors << (end.exitCode == 0 && !end.haveRecord
                ? QStringLiteral("tarnwick-image ended without a readable run record")
                : QStringLiteral("tarnwick-image ended with exit code %1").arg(end.exitCode));
    return judged;
}

QString progressOf(const QString &line)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d{1,3}|\\?)% (.+)$"));
    const QRegularExpressionMatch match = shape.match(line);
    if (!match.hasMatch())
        return QString();
    return match.captured(1) == QLatin1String("?") ? match.captured(2) : line;
}

} // namespace Library
