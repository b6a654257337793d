#include "platform/tap/tap_pipeline.h"

#include "platform/tap/tap_format.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kHandOverAt = TapPipeline::kChunkBytes;
/// A record's framing, and a mark or marker after it.
constexpr std::size_t kFraming = TapFormat::kRecordFraming + 4;

} // namespace

TapPipeline::TapPipeline(int fd, std::uint32_t largestRecord, std::uint64_t bufferBytes)
    : m_fd(fd)
    , m_capacity(kHandOverAt + largestRecord + kFraming)
    , m_chunkCount(std::max<std::uint64_t>(2, bufferBytes / kHandOverAt))
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
    m_chunks.reserve(m_chunkCount);
    for (std::size_t i = 0; i < m_chunkCount; ++i) {
        // Reserved, not committed: a chunk takes memory only where records were put.
        void *data = ::mmap(nullptr, m_capacity, PROT_READ | PROT_WRITE,
            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (data == MAP_FAILED)
            return false;
        m_chunks.push_back({ static_cast<unsigned char *>(data), 0 });
    }
    m_chunk = &m_chunks.front();
    for (std::size_t i = m_chunkCount - 1; i > 0; --i)
        m_free.push_back(&m_chunks[i]);
    m_writer = std::thread([this] { writeLoop(); });
    return true;
}

void TapPipeline::commitWord(std::uint32_t word)
{
    TapFormat::putWord(m_chunk->data + m_chunk->used, word);
    m_chunk->used += 4;
}

bool TapPipeline::commitRecord(std::uint32_t length, bool error)
{
    const std::size_t framed = TapFormat::frameRecord(m_chunk->data + m_chunk->used, length, error);
    if (framed == 0)
        return false;
    m_chunk->used += framed;
    if (m_chunk->used >= kHandOverAt)
        handOver();
    return true;
}

void TapPipeline::commitMark()
{
    commitWord(TapFormat::kTapeMark);
    if (m_chunk->used >= kHandOverAt)
        handOver();
}

void TapPipeline::commitEndOfMedium()
{
    commitWord(TapFormat::kEndOfMedium);
}

void TapPipeline::handOver()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_committed += m_chunk->used;
    m_full.push_back(m_chunk);
    m_changed.notify_all();
    if (m_free.empty()) {
        const auto from = std::chrono::steady_clock::now();
        m_changed.wait(lock, [this] { return !m_free.empty(); });
        ++m_waits;
        m_waitNanoseconds += std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now() - from)
                                               .count());
    }
    m_chunk = m_free.back();
    m_free.pop_back();
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
        else if (!failedBefore)
            m_written += chunk->used;
        m_full.pop_front();
        m_free.push_back(chunk);
        m_changed.notify_all();
    }
}

bool TapPipeline::flush()
{
    if (!m_writer.joinable())
        return !m_failed;
    if (m_chunk->used > 0)
        handOver();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_full.empty(); });
    return !m_failed;
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
