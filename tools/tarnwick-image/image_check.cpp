#include "tools/tarnwick-image/image_check.h"

#include "imaging/image_file.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QFile>

namespace {

QString line(const char *label, const QString &value)
{
    return QString::fromLatin1(label).leftJustified(22) + value + QLatin1Char('\n');
}

QString trailerLine(const QString &path, const ImageFile::Trailer &trailer)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(trailer.bodyLength))
        return QString();
    return QLatin1Char('"') + QString::fromLatin1(file.read(trailer.trailerLength))
        + QLatin1Char('"');
}

} // namespace

int inspectImage(const QString &path)
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
    if (!QFile::exists(path))
        return Console::fail(ExitCode::NotComplete, QStringLiteral("%1 does not exist").arg(path));

    QString report = line("file:", path) + line("file size:", QString::number(trailer.fileSize));
    if (!trailer.valid) {
        report += line("trailer:", QStringLiteral("none (") + trailer.problem + QLatin1Char(')'));
        report += line("complete:", QStringLiteral("no"));
        Console::out(report);
        return ExitCode::NotComplete;
    }
    const bool complete = trailer.bodyDividesEvenly;
    report += line("trailer:", trailerLine(path, trailer));
    report += line("tape block length T:", QString::number(trailer.tapeBlockLength));
    report += line("block size S:", QString::number(trailer.blockSize));
    report += line("body length:", QString::number(trailer.bodyLength));
    report += line("records:", QString::number(trailer.recordCount));
    report += line("complete:",
        complete ? QStringLiteral("yes")
                 : QStringLiteral("no (the body is not a whole number of S-byte records)"));
    Console::out(report);
    return complete ? ExitCode::Complete : ExitCode::NotComplete;
}
