#include "archive/image_verdict.h"

#include "archive/file_hasher.h"
#include "platform/posix/native_file.h"
#include "platform/tap/tap_file.h"

#include <QFile>

namespace ImageVerdict {

namespace {

using RunRecord::Verdict;

const QString kNoRecord = QStringLiteral("without its run record (<image>.json) nothing says "
                                         "whether it holds the whole tape");

void judgeTapeFile(int fd, Judgement &judgement)
{
    QFile file;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        judgement.trailer = ImageFile::readTrailer(file);
    const ImageFile::Trailer &trailer = judgement.trailer;
    if (!trailer.valid) {
        judgement.verdict = Verdict::Unfinished;
        judgement.summary = QStringLiteral("the file has no trailer: a run that was given up, "
                                           "failed or interrupted left it");
        return;
    }
    judgement.verdict = Verdict::NotKnown;
    judgement.summary = QStringLiteral("the file is a well-formed image, but ") + kNoRecord;
    // The window's rules can end a run early; its image then looks the same as a whole one.
    judgement.notes << QStringLiteral("a trailer is written whenever a run ends on its own "
                                      "rules, also when they end it before the end of data");
}

void judgeTapFile(int fd, Judgement &judgement)
{
    TapFile tape(fd, NativeFile::size(fd));
    tape.spaceToEnd();
    judgement.tapObjects = qint64(tape.position());
    judgement.verdict = Verdict::NotKnown;
    judgement.summary
        = QStringLiteral("a .tap file of %1 blocks and marks; ").arg(judgement.tapObjects)
        + kNoRecord;
}

/// The record speaks for the file only when the file is the one it describes.
bool recordFits(const RunRecord::Record &record, qint64 fileSize, Judgement &judgement)
{
    if (record.bytesWritten == fileSize)
        return true;
    judgement.notes << QStringLiteral("the run record beside it describes a file of %1 bytes, "
                                      "this one has %2: it was changed after the run, so the "
                                      "record does not speak for it")
                           .arg(record.bytesWritten)
                           .arg(fileSize);
    return false;
}

} // namespace

Judgement judge(const QByteArray &path)
{
    Judgement judgement;
    const int fd = NativeFile::openForReading(path);
    if (fd < 0) {
        judgement.verdict = Verdict::Unfinished;
        judgement.summary = NativeFile::kindAt(path) == NativeFile::Kind::Missing
            ? QStringLiteral("there is no such file")
            : QStringLiteral("the file cannot be read as an image: ")
                + NativeFile::errorText(NativeFile::lastError());
        return judgement;
    }
    judgement.exists = true;
    RunRecord::Record record;
    const bool recorded = RunRecord::readBeside(path, record);
    judgement.isTap
        = recorded ? record.format == RunRecord::ImageFormat::Tap : path.toLower().endsWith(".tap");
    if (judgement.isTap)
        judgeTapFile(fd, judgement);
    else
        judgeTapeFile(fd, judgement);
    const qint64 fileSize = NativeFile::size(fd);
    judgement.fileSize = fileSize;
    NativeFile::close(fd);

    if (recorded && recordFits(record, fileSize, judgement)) {
        judgement.fromRecord = true;
        judgement.record = record;
        judgement.verdict = record.verdict;
        judgement.summary = record.verdictText;
        judgement.notes.clear();
    }
    return judgement;
}

QString completeWord(RunRecord::Verdict verdict)
{
    switch (verdict) {
    case Verdict::Complete:
        return QStringLiteral("yes");
    case Verdict::Damaged:
        return QStringLiteral("yes, with damage");
    case Verdict::StopsShort:
        return QStringLiteral("no, it stops short");
    case Verdict::Unfinished:
        return QStringLiteral("no");
    case Verdict::NotKnown:
        break;
    }
    return QStringLiteral("not known");
}

Checksum checkChecksum(const QByteArray &path, const Judgement &judgement, QString &actual)
{
    // The .sha256 file is what `sha256sum -c` checks; the run record holds the same.
    QString recorded;
    QByteArray text;
    if (NativeFile::readAll(RunRecord::checksumPath(path), 4096, text))
        recorded = QString::fromLatin1(text.left(text.indexOf(' '))).remove(QLatin1Char('\\'));
    else if (judgement.fromRecord)
        recorded = judgement.record.sha256;
    actual.clear();
    if (recorded.isEmpty())
        return Checksum::NotRecorded;
    const int fd = NativeFile::openForReading(path);
    if (fd >= 0)
        actual = FileHasher::ofFile(fd);
    NativeFile::close(fd);
    return actual == recorded ? Checksum::Matches : Checksum::Differs;
}

} // namespace ImageVerdict
