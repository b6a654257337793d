// thread-copy: the plain read/write loop of the benchmark, with one change: every read runs
// on a thread of its own, started and joined per block, as the imaging engine does.
//
//   thread-copy BLOCK-SIZE IN OUT
//
// Nothing else of the engine is here (no Qt, no tape layer, no event processing), so its
// throughput is the most any design that starts a thread per block can reach on this machine;
// the benchmark prints it next to the plain copy and the engine.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

bool writeAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t put = ::write(fd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: thread-copy BLOCK-SIZE IN OUT\n");
        return 2;
    }
    const std::size_t block = std::strtoul(argv[1], nullptr, 10);
    const int in = ::open(argv[2], O_RDONLY);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (block == 0 || in < 0 || out < 0) {
        std::perror("thread-copy");
        return 1;
    }
    std::unique_ptr<char[]> buffer(new char[block]);
    for (;;) {
        ssize_t got = 0;
        std::thread reader([&] { got = ::read(in, buffer.get(), block); });
        reader.join();
        if (got < 0) {
            std::perror("thread-copy: read");
            return 1;
        }
        if (got == 0)
            break;
        if (!writeAll(out, buffer.get(), static_cast<std::size_t>(got))) {
            std::perror("thread-copy: write");
            return 1;
        }
    }
    return ::close(out) == 0 ? 0 : 1;
}
