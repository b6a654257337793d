#include "scanner/core/image_facts.h"

#include "imaging/image_file.h"
#include "scanner/core/record_layout.h"
#include "scanner/core/tap_image.h"

#include <algorithm>

namespace Quorlin {
namespace {
constexpr quint64 largestBlockSize = 524289;
// Shorter records are noise to a tape drive; a trailer naming one is not a trailer.
constexpr quint64 smallestBlockSize = 18;
// What a run at a numeric block size stores as T when its last read was empty.
constexpr quint64 emptyLastRead = 65536;

// A run writes T <= S, except that an empty last read of a numeric run is stored
// as 65536. Anything else only looks like a trailer: taking it for one would cut
// its bytes off the data and frame the body in records it does not have.
QString implausibleTrailer(const ImageFile::Trailer &trailer)
{
    if (trailer.bodyLength == 0 && trailer.blockSize == 0 && trailer.tapeBlockLength == 0)
        return QString(); // a run that read nothing
    if (trailer.blockSize < smallestBlockSize || trailer.blockSize > largestBlockSize)
        return QStringLiteral("S = %1 is no block size a tape has").arg(trailer.blockSize);
    if (trailer.tapeBlockLength > trailer.blockSize && trailer.tapeBlockLength != emptyLastRead)
        return QStringLiteral("T = %1 is larger than S = %2")
            .arg(trailer.tapeBlockLength)
            .arg(trailer.blockSize);
    return QString();
}

} // namespace

bool isTapPath(const QString &path)
{
    return path.endsWith(QLatin1String(".tap"), Qt::CaseInsensitive);
}

ImageFacts readImageFacts(const QString &path)
{
    if (isTapPath(path))
        return readTapFacts(path);
    const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
    ImageFacts facts;
    facts.path = path;
    facts.fileSize = trailer.fileSize;
    facts.hasTrailer = trailer.valid;
    facts.tapeBlockLength = trailer.tapeBlockLength;
    facts.blockSize = trailer.blockSize;
    facts.bodyLength = std::max<qint64>(0, std::min(trailer.bodyLength, trailer.fileSize));
    facts.recordCount = trailer.recordCount;
    facts.bodyDividesEvenly = trailer.bodyDividesEvenly;
    const QString implausible = trailer.valid ? implausibleTrailer(trailer) : QString();
    if (!implausible.isEmpty()) {
        facts.hasTrailer = false;
        facts.bodyLength = trailer.fileSize;
        facts.recordCount = 0;
        facts.bodyDividesEvenly = false;
        facts.trailerNote = QStringLiteral("The end of the file reads like a trailer, but %1: "
                                           "the whole file is scanned as tape data.")
                                .arg(implausible);
    } else if (!trailer.valid) {
        facts.trailerNote
            = QStringLiteral("No trailer (%1): the whole file is scanned as tape data.")
                  .arg(trailer.problem.isEmpty() ? QStringLiteral("not found") : trailer.problem);
    } else if (!trailer.bodyDividesEvenly) {
        // The records differ in length (an "Auto" run over blocks of several
        // sizes): S says nothing about where records start.
        facts.trailerNote = QStringLiteral("The records are not all %1 bytes long; the scan "
                                           "looks for archives every 512 bytes.")
                                .arg(trailer.blockSize);
    } else {
        facts.recordStep = qint64(trailer.blockSize);
    }
    facts.streamLength = facts.bodyLength;
    facts.layout = std::make_shared<RecordLayout>(
        RecordLayout::contiguous(facts.bodyLength, facts.recordStep));
    return facts;
}

bool mayBePadded(const ImageFacts &facts)
{
    return !facts.tapFile && facts.recordStep > 0 && facts.tapeBlockLength > 0
        && facts.tapeBlockLength < facts.blockSize;
}

} // namespace Quorlin
