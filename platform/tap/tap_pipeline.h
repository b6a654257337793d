#pragma once
/**
 * @file
 * Writes a .tap stream (see tap_file.h) while the tape is still being read:
 * the reading thread reads each record straight into a chunk of memory, where
 * it is framed with its length words; full chunks go through a small bounded
 * queue to a writing thread, which writes them to the file in large writes.
 * Reading and writing overlap, and the cost per record is a few stores, so
 * small records go as fast as large ones.
 *
 * Memory stays flat whatever the size of the tape: a few chunks of about
 * 1 MiB plus room for the largest record each. The room is reserved, not
 * touched, so only the bytes records really use take memory.
 *
 * Used from one reading thread; the writing thread is internal.
 */
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class TapPipeline
{
public:
    /// Writes to @p fd (not owned); a record may be up to @p largestRecord bytes long.
    TapPipeline(int fd, std::uint32_t largestRecord);
    ~TapPipeline();
    TapPipeline(const TapPipeline &) = delete;
    TapPipeline &operator=(const TapPipeline &) = delete;

    /// Reserves the chunks and starts the writing thread; false when memory is short.
    bool start();

    /// Where the next record's bytes go: room for largestRecord bytes.
    unsigned char *recordBuffer() { return m_chunk->data + m_chunk->used + 4; }
    /// The @p length bytes just put at recordBuffer() are the next record;
    /// @p error flags it as not read whole. False, and nothing committed, for a
    /// record the format cannot frame (see TapFormat::recordWord()).
    bool commitRecord(std::uint32_t length, bool error);
    void commitMark();
    void commitEndOfMedium();

    /// Hands over the last chunk and waits until everything is written.
    /// False when a write failed (see writeError()).
    bool finish();

    /// Bytes committed so far, written or not.
    std::uint64_t committed() const { return m_committed + m_chunk->used; }
    /// Bytes handed to the file so far (not yet synced): the committed bytes up to some point.
    std::uint64_t written() const { return m_written; }
    /// Hands over what is committed and waits until it is written; false when a write failed.
    bool flush();

    /// A write has failed; what is committed from then on is dropped.
    bool failed() const;
    /// errno of the failed write.
    int writeError() const;

private:
    struct Chunk
    {
        unsigned char *data = nullptr;
        std::size_t used = 0;
    };

    void commitWord(std::uint32_t word);
    void handOver();
    void writeLoop();
    bool writeAll(const Chunk &chunk);

    int m_fd;
    std::size_t m_capacity;
    std::vector<Chunk> m_chunks;
    Chunk *m_chunk = nullptr; ///< being filled by the reading thread
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk *> m_full; ///< waiting to be written, in order
    std::deque<Chunk *> m_free;
    bool m_finishing = false;
    std::atomic<bool> m_failed { false }; ///< read without the lock, once per record
    std::uint64_t m_committed = 0; ///< in chunks handed over (reading thread only)
    std::atomic<std::uint64_t> m_written { 0 };
    int m_error = 0; ///< set before m_failed
    std::thread m_writer;
};
