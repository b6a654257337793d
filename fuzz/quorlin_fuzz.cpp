// libFuzzer target: the trailer reader, the .tap walk and the carving scan over
// any bytes. The first byte picks the door: a .tape image or a .tap file.
#include "scanner/core/carver.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    if (size == 0)
        return 0;
    const QString path
        = dir.filePath(data[0] & 1 ? QStringLiteral("input.tap") : QStringLiteral("input.tape"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    file.close();
    const Quorlin::ScanResult result = Quorlin::scanImage(path);
    // What the scan reports must stay inside the stream it was given, in order,
    // without overlaps.
    qint64 end = 0;
    for (const auto &archive : result.archives) {
        if (archive.offset < end || archive.length < 0
            || archive.offset + archive.length > result.facts.streamLength)
            __builtin_trap();
        end = archive.offset + archive.length;
    }
    for (const auto &region : result.rawRegions) {
        if (region.offset < 0 || region.length <= 0
            || region.offset + region.length > result.facts.streamLength)
            __builtin_trap();
    }
    return 0;
}
