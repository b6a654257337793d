#include "platform/tap/tap_pipeline.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kHandOverAt = 1 << 20; ///< a chunk goes to the writer once this full
constexpr int kChunks = 4; ///< one being filled, up to three queued or being written
constexpr std::size_t kFraming = 4 + 1 + 4 + 4; ///< length words, pad byte, a mark or marker

constexpr std::uint32_t kErrorFlag = 0x80000000u;
constexpr std::uint32_t kEndOfMedium = 0xFFFFFFFFu;

} // namespace

TapPipeline::TapPipeline(int fd, std::uint32_t largestRecord)
    : m_fd(fd)
    , m_capacity(kHandOverAt + largestRecord + kFraming)
{
}

TapPipeline::~TapPipeline()
{
    finish();
    for (Chunk &chunk : m_chunks)
        ::munmap(chunk.data, m_capacity);
}

bool TapPipeline::start()
{
    for (int i = 0; i < kChunks; ++i) {
        // Reserved, not committed: a chunk takes memory only where records were put.
        void *data = ::mmap(nullptr, m_capacity, PROT_READ | PROT_WRITE,
            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (data == MAP_FAILED)
            return false;
        m_chunks.push_back({ static_cast<unsigned char *>(data), 0 });
    }
    m_chunk = &m_chunks.front();
    for (int i = 1; i < kChunks; ++i)
        m_free.push_back(&m_chunks[std::size_t(i)]);
    m_writer = std::thread([this] { writeLoop(); });
    return true;
}

void TapPipeline::commitWord(std::uint32_t word)
{
    unsigned char *at = m_chunk->data + m_chunk->used;
    at[0] = static_cast<unsigned char>(word);
    at[1] = static_cast<unsigned char>(word >> 8);
    at[2] = static_cast<unsigned char>(word >> 16);
    at[3] = static_cast<unsigned char>(word >> 24);
    m_chunk->used += 4;
}

void TapPipeline::commitRecord(std::uint32_t length, bool error)
{
    const std::uint32_t word = length | (error ? kErrorFlag : 0u);
    commitWord(word);
    m_chunk->used += length;
    if (length & 1)
        m_chunk->data[m_chunk->used++] = 0;
    commitWord(word);
    if (m_chunk->used >= kHandOverAt)
        handOver();
}

void TapPipeline::commitMark()
{
    commitWord(0);
    if (m_chunk->used >= kHandOverAt)
        handOver();
}

void TapPipeline::commitEndOfMedium()
{
    commitWord(kEndOfMedium);
}

void TapPipeline::handOver()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_full.push_back(m_chunk);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_free.empty(); });
    m_chunk = m_free.front();
    m_free.pop_front();
    m_chunk->used = 0;
}

bool TapPipeline::writeAll(const Chunk &chunk)
{
    std::size_t done = 0;
    while (done < chunk.used) {
        const ssize_t wrote = ::write(m_fd, chunk.data + done, chunk.used - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            m_error = wrote < 0 ? errno : ENOSPC;
            return false;
        }
        done += std::size_t(wrote);
    }
    return true;
}

void TapPipeline::writeLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_full.empty() || m_finishing; });
        if (m_full.empty())
            return;
        Chunk *chunk = m_full.front();
        const bool failedBefore = m_failed;
        lock.unlock();
        // After a failure the chunks still come back, so that the reader never waits for ever.
        const bool written = failedBefore || writeAll(*chunk);
        lock.lock();
        if (!written)
            m_failed = true;
        m_full.pop_front();
        m_free.push_back(chunk);
        m_changed.notify_all();
    }
}

bool TapPipeline::finish()
{
    if (!m_writer.joinable())
        return !m_failed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_chunk->used > 0)
            m_full.push_back(m_chunk);
        m_finishing = true;
        m_changed.notify_all();
    }
    m_writer.join();
    return !m_failed;
}

bool TapPipeline::failed() const
{
    return m_failed;
}

int TapPipeline::writeError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}
