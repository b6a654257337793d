#include "scanner/core/image_facts.h"

#include "imaging/image_file.h"
#include "scanner/core/signatures.h"

#include <QFile>

#include <algorithm>

namespace Quorlin {
namespace {
constexpr quint64 largestBlockSize = 524289;
constexpr qint64 readSize = 4 << 20;
constexpr qint64 progressInterval = 16 << 20;
} // namespace

ImageFacts readImageFacts(const QString &path)
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
    ImageFacts facts;
    facts.path = path;
    facts.fileSize = trailer.fileSize;
    facts.hasTrailer = trailer.valid;
    facts.tapeBlockLength = trailer.tapeBlockLength;
    facts.blockSize = trailer.blockSize;
    facts.bodyLength = std::max<qint64>(0, std::min(trailer.bodyLength, trailer.fileSize));
    facts.streamLength = facts.bodyLength;
    facts.recordCount = trailer.recordCount;
    facts.bodyDividesEvenly = trailer.bodyDividesEvenly;
    if (!trailer.valid) {
        facts.trailerNote
            = QStringLiteral("No trailer (%1): the whole file is scanned as tape data.")
                  .arg(trailer.problem.isEmpty() ? QStringLiteral("not found") : trailer.problem);
    } else if (trailer.blockSize == 0 || trailer.blockSize > largestBlockSize
        || !trailer.bodyDividesEvenly) {
        // Either the trailer lies or the records differ in length (an "Auto"
        // run over blocks of several sizes): S says nothing about record starts.
        facts.trailerNote = QStringLiteral("The records are not all %1 bytes long; the scan "
                                           "looks for archives every 512 bytes.")
                                .arg(trailer.blockSize);
    } else {
        facts.recordStep = qint64(trailer.blockSize);
    }
    return facts;
}

bool mayBePadded(const ImageFacts &facts)
{
    return facts.recordStep > 0 && facts.tapeBlockLength > 0
        && facts.tapeBlockLength < facts.blockSize;
}

bool settlePadding(ImageFacts *facts, const ScanProgress &progress, const std::atomic<bool> *cancel,
    QString *error)
{
    const qint64 record = qint64(facts->blockSize);
    const qint64 data = qint64(facts->tapeBlockLength);
    QFile file(facts->path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    QByteArray buffer(int(std::max(record, readSize / record * record)), Qt::Uninitialized);
    const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.constData());
    qint64 lastReport = 0;
    for (qint64 pos = 0; pos < facts->bodyLength;) {
        if (cancel && cancel->load())
            return false;
        const qint64 wanted = std::min<qint64>(buffer.size(), facts->bodyLength - pos);
        if (file.read(buffer.data(), wanted) != wanted) {
            *error = QStringLiteral("Reading the image failed at offset %1: %2")
                         .arg(pos)
                         .arg(file.errorString());
            return false;
        }
        for (qint64 at = 0; at < wanted; at += record) {
            if (!allZero(bytes + at + data, std::size_t(record - data))) {
                facts->trailerNote
                    = QStringLiteral("Record %1 holds data after its first %2 bytes, so "
                                     "not every block was %2 bytes long: the records are "
                                     "read whole, zero padding included.")
                          .arg((pos + at) / record + 1)
                          .arg(data);
                return true;
            }
        }
        pos += wanted;
        if (progress && pos - lastReport >= progressInterval) {
            progress(pos, facts->bodyLength);
            lastReport = pos;
        }
    }
    // A block shorter than T (the end of a tape file) keeps its zeros up to T:
    // they fall after the archive's end marker, where the readers stop anyway,
    // while cutting a record at its last non-zero byte could drop zeros that
    // are data. A tape mark becomes T zero bytes.
    facts->recordData = data;
    facts->recordStep = data;
    facts->streamLength = facts->recordCount * data;
    facts->trailerNote = QStringLiteral("Each record is %1 bytes of tape data and %2 bytes of "
                                        "zero padding; the padding is left out.")
                             .arg(data)
                             .arg(record - data);
    return true;
}

} // namespace Quorlin
