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
 * The queue holds as many chunks of about 1 MiB as the buffer size asks (at
 * least two), so that a disk that stalls for a moment does not stop the
 * reader (a drive that must stop repositions: time lost, wear on the tape).
 * Memory stays flat whatever the size of the tape: each chunk has room for
 * the largest record beyond its 1 MiB, and all of it is reserved, not
 * touched; a freed chunk is the next one filled, so a writer that keeps up
 * touches only a few chunks and the buffer takes memory only while it holds
 * what the disk has not yet taken. Every time the reader finds no free chunk
 * it waits, and the waits are counted.
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
    static constexpr std::size_t kChunkBytes = 1 << 20; ///< handed to the writer once this full
    static constexpr std::uint64_t kDefaultBuffer = 256ull << 20;

    /// Writes to @p fd (not owned); a record may be up to @p largestRecord bytes long;
    /// up to @p bufferBytes (in chunks of kChunkBytes) wait for the writer.
    TapPipeline(int fd, std::uint32_t largestRecord, std::uint64_t bufferBytes = kDefaultBuffer);
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

    /// How often the reader had to wait for the writer, and for how long in all.
    std::uint64_t readerWaits() const { return m_waits; }
    std::uint64_t readerWaitNanoseconds() const { return m_waitNanoseconds; }

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
    std::size_t m_chunkCount;
    std::uint64_t m_waits = 0; ///< the reader's thread only
    std::uint64_t m_waitNanoseconds = 0;
    std::vector<Chunk> m_chunks;
    Chunk *m_chunk = nullptr; ///< being filled by the reading thread
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk *> m_full; ///< waiting to be written, in order
    std::vector<Chunk *> m_free; ///< the last freed on top: it is still in memory
    bool m_finishing = false;
    std::atomic<bool> m_failed { false }; ///< read without the lock, once per record
    std::uint64_t m_committed = 0; ///< in chunks handed over (reading thread only)
    std::atomic<std::uint64_t> m_written { 0 };
    int m_error = 0; ///< set before m_failed
    std::thread m_writer;
};
