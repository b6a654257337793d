// libFuzzer target: the trailer reader and the carving scan over any bytes.
#include "scanner/core/carver.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input.tape"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    const Quorlin::ScanResult result = Quorlin::scanImage(path);
    // What the scan reports must stay inside the stream it was given.
    for (const auto &archive : result.archives) {
        if (archive.offset < 0 || archive.offset + archive.length > result.facts.streamLength)
            __builtin_trap();
    }
    for (const auto &region : result.rawRegions) {
        if (region.offset < 0 || region.offset + region.length > result.facts.streamLength)
            __builtin_trap();
    }
    return 0;
}
