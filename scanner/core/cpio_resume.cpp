// Where a damaged cpio goes on: its headers keep no 512-byte steps (newc four,
// binary two, odc none), so they are looked for byte by byte.
#include "scanner/core/archive_reader.h"
#include "scanner/core/body_stream.h"
#include "scanner/core/signatures.h"

#include <algorithm>

namespace Quorlin {

qint64 nextCpioHeader(const ImageFacts &facts, qint64 from, qint64 end)
{
    constexpr qint64 chunk = 1 << 20;
    constexpr qint64 overlap = 8192; // a header and the longest name it is checked with
    BodyStream stream(facts);
    if (!stream.open())
        return -1;
    QByteArray buffer(int(chunk + overlap), Qt::Uninitialized);
    for (qint64 at = from; at < end; at += chunk) {
        const qint64 got = stream.readAt(at, buffer.data(), std::min(chunk + overlap, end - at));
        if (got <= 0)
            return -1;
        const auto *data = reinterpret_cast<const unsigned char *>(buffer.constData());
        for (qint64 i = 0; i < std::min(chunk, got); ++i) {
            if ((data[i] == '0' || data[i] == 0x71 || data[i] == 0xc7)
                && detectSignature(data + i, std::size_t(got - i)) == Signature::Cpio)
                return at + i;
        }
    }
    return -1;
}

} // namespace Quorlin
