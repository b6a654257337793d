// Feeds arbitrary bytes to the .tap reader as a tape file. The first byte
// picks the caller's buffer size, so over-long records get exercised too.
// Whatever the bytes, the reader must stay inside the caller's buffer, end in
// a bounded number of reads, and agree with itself between reading and
// spacing to the end.
#include "platform/tap/tap_file.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int tapeFd()
{
    static const int fd = memfd_create("tape", 0);
    return fd;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint32_t capacity = std::uint32_t(data[0]) * 37;
    const int fd = tapeFd();
    check(ftruncate(fd, 0) == 0);
    check(pwrite(fd, data + 1, size - 1, 0) == ssize_t(size - 1));

    TapFile tape(fd, std::int64_t(size - 1));
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[capacity + 1]);
    std::uint64_t bytes = 0;
    // Every object takes at least four bytes of the file.
    const std::size_t most = size / 4 + 2;
    std::size_t reads = 0;
    for (;; ++reads) {
        check(reads <= most);
        std::uint32_t copied = 0;
        const TapFile::Object object = tape.read(buffer.get(), capacity, copied);
        check(copied <= capacity);
        if (object.kind == TapFile::Kind::End)
            break;
        check(object.kind == TapFile::Kind::Record || copied == 0);
        bytes += object.length;
    }
    const std::uint64_t end = tape.position();
    check(end == reads);
    tape.rewind();
    tape.spaceToEnd();
    check(tape.position() == end);
    check(tape.recordedBytes() == bytes);
    tape.seek(end / 2);
    check(tape.position() == end / 2);
    return 0;
}
