#include "scanner/core/tap_image.h"

#include "platform/tap/tap_file.h"
#include "platform/tap/tap_format.h"
#include "scanner/core/record_layout.h"

#include <QFile>
#include <QMap>
#include <QtEndian>

#include <algorithm>

namespace Quorlin {
namespace {

bool endsWithEndOfMedium(QFile &file, qint64 at)
{
    quint32 word = 0;
    if (at + 4 != file.size() || !file.seek(at)
        || file.read(reinterpret_cast<char *>(&word), 4) != 4)
        return false;
    return qFromLittleEndian(word) == TapFormat::kEndOfMedium;
}

} // namespace

ImageFacts readTapFacts(const QString &path)
{
    ImageFacts facts;
    facts.path = path;
    facts.tapFile = true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        facts.trailerNote = file.errorString();
        facts.layout = std::make_shared<RecordLayout>();
        return facts;
    }
    facts.fileSize = file.size();
    auto layout = std::make_shared<RecordLayout>();
    TapFile tape(file.handle(), facts.fileSize);
    QMap<qint64, qint64> lengths; // record length -> records
    bool fileOpen = false;
    for (;;) {
        std::uint32_t copied = 0;
        const TapFile::Object object = tape.read(nullptr, 0, copied);
        if (object.kind == TapFile::Kind::End)
            break;
        if (object.kind == TapFile::Kind::Mark) {
            layout->addTapeMark();
            fileOpen = false;
            continue;
        }
        const qint64 length = object.length;
        const qint64 stride = length + (length & 1) + 8;
        layout->append({ 0, tape.offset() - stride + 4, length, stride, 1, object.error });
        facts.tapeFiles += fileOpen ? 0 : 1;
        fileOpen = true;
        ++facts.recordCount;
        facts.unreadableRecords += object.error ? 1 : 0;
        ++lengths[length];
    }
    const qint64 end = tape.offset();
    if (end < facts.fileSize && !endsWithEndOfMedium(file, end)) {
        // The reader stops at a record whose frame is broken; the bytes from there
        // on may still hold data, so they are scanned as they stand.
        const qint64 rest = facts.fileSize - end;
        layout->append({ 0, end, rest, rest, 1, false });
        facts.trailerNote = QStringLiteral("The tape file's records end at offset %1, where a "
                                           "record's length words do not match; the %2 bytes "
                                           "from there on are scanned as they stand.")
                                .arg(end)
                                .arg(rest);
    }
    facts.bodyLength = facts.fileSize;
    facts.streamLength = layout->streamLength();
    facts.blockSize = lengths.isEmpty() ? 0 : quint64(lengths.lastKey());
    facts.recordStep = lengths.size() == 1 ? lengths.firstKey() : 0;
    facts.layout = layout;
    return facts;
}

} // namespace Quorlin
