#include "archive/image_report.h"

#include "archive/notices.h"

#include <QFile>

namespace ImageReport {

namespace {

QString line(const char *label, const QString &value)
{
    return QString::fromLatin1(label).leftJustified(22) + value + QLatin1Char('\n');
}

QString trailerLines(const ImageFile::Trailer &trailer)
{
    if (!trailer.valid)
        return line("trailer:", QStringLiteral("none (") + trailer.problem + QLatin1Char(')'));
    // A trailer that parses is exactly what the writer prints for its two numbers.
    const QByteArray text
        = ImageFile::trailerText(quint32(trailer.tapeBlockLength), quint32(trailer.blockSize));
    QString report
        = line("trailer:", QLatin1Char('"') + QString::fromLatin1(text) + QLatin1Char('"'));
    report += line("tape block length T:", QString::number(trailer.tapeBlockLength));
    report += line("block size S:", QString::number(trailer.blockSize));
    report += line("body length:", QString::number(trailer.bodyLength));
    report += line("records:",
        trailer.bodyDividesEvenly
            ? QString::number(trailer.recordCount)
            : QStringLiteral("not a whole number of S-byte records: the records differ in length"));
    return report;
}

/// The operator's fields, each line of the notes a line of its own, escaped so that no
/// text forges a line of the report.
QString operatorLines(const RunRecord::Operator &fields)
{
    QString report;
    if (!fields.description.isEmpty())
        report += line("description:", Archive::shown(fields.description.toUtf8()));
    if (!fields.notes.isEmpty()) {
        QStringList lines
            = QString(fields.notes).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
        while (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        for (const QString &text : qAsConst(lines))
            report += line("notes:", Archive::shown(text.toUtf8()));
    }
    if (!fields.photoName.isEmpty()) {
        report += line("label photo:",
            QStringLiteral("%1 (%2 bytes, SHA-256 %3)")
                .arg(Archive::shown(QFile::encodeName(fields.photoName)))
                .arg(fields.photoSize)
                .arg(fields.photoSha256));
    }
    return report;
}

QString recordLines(const RunRecord::Record &record)
{
    QString device = record.devicePath + QStringLiteral(" (") + record.deviceKind;
    for (const QString &part : { record.vendor, record.product, record.revision })
        device += part.isEmpty() ? QString() : QLatin1Char(' ') + part;
    if (!record.serial.isEmpty())
        device += QStringLiteral(", serial ") + record.serial;
    QString report = line("imaged:",
        record.started.toString(Qt::ISODate) + QStringLiteral(" to ")
            + record.ended.toString(Qt::ISODate) + QStringLiteral(" by ") + record.program
            + QLatin1Char(' ') + record.version);
    report += line("from:", device + QLatin1Char(')'));
    report += line("block size:", record.blockSize);
    const QString end = record.endOfData < 0
        ? QStringLiteral("the drive did not report the end of data")
        : QStringLiteral("%1 before the end of data").arg(record.endOfData);
    report += line("blocks read:",
        QStringLiteral("%1, tape marks included (%2); %3")
            .arg(record.blocksRead)
            .arg(record.marksRead)
            .arg(end));
    report += line("tape files:", QString::number(record.files.size()));
    for (const RunRecord::Problem &problem : record.problems)
        report += line("block problem:", problem.text);
    report += line("sha256:", record.sha256.isEmpty() ? QStringLiteral("none") : record.sha256);
    return report + operatorLines(record.operatorFields);
}

} // namespace

QString describe(const QByteArray &path, const ImageVerdict::Judgement &judgement)
{
    QString report = line("file:", Archive::shown(path));
    report += line("file size:", QString::number(judgement.fileSize));
    report += line(
        "format:", judgement.isTap ? QStringLiteral(".tap master") : QStringLiteral(".tape image"));
    if (!judgement.isTap)
        report += trailerLines(judgement.trailer);
    if (judgement.fromRecord)
        report += recordLines(judgement.record);
    for (const QString &note : judgement.notes)
        report += line("note:", note);
    report += line("complete:",
        ImageVerdict::completeWord(judgement.verdict) + QStringLiteral(" (") + judgement.summary
            + QLatin1Char(')'));
    return report;
}

bool checkChecksum(
    const QByteArray &path, const ImageVerdict::Judgement &judgement, QString &report)
{
    QString actual;
    const ImageVerdict::Checksum check = ImageVerdict::checkChecksum(path, judgement, actual);
    if (check == ImageVerdict::Checksum::NotRecorded) {
        report += line("checksum check:", QStringLiteral("no checksum recorded, nothing to check"));
        return true;
    }
    const bool matches = check == ImageVerdict::Checksum::Matches;
    report += line("checksum check:",
        matches
            ? QStringLiteral("the file matches its checksum")
            : QStringLiteral("the file does NOT match its checksum (%1): it changed after the run")
                  .arg(actual.isEmpty() ? QStringLiteral("unreadable") : actual));
    return matches;
}

} // namespace ImageReport
