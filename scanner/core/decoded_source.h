#pragma once
#include "scanner/core/body_stream.h"
#include "scanner/core/decoder.h"

#include <QByteArray>

#include <archive.h>

namespace Quorlin {

/// Feeds libarchive the decompressed bytes of the compressed stream that starts
/// at stream offset @p begin, decoded here rather than by libarchive: so the
/// stream's end is known to the byte, and everything decoded before damage
/// reaches the archive reader.
class DecodedSource
{
public:
    DecodedSource(const ImageFacts &facts, qint64 begin, qint64 end, Compression kind);
    ~DecodedSource();
    DecodedSource(const DecodedSource &) = delete;
    DecodedSource &operator=(const DecodedSource &) = delete;

    /// Opens the file and hands the callbacks to @p reader (archive_read_open).
    int open(archive *reader);

    /// Compressed bytes used so far: once ended(), the stream's length.
    qint64 consumed() const { return m_inStart + qint64(m_inPos) - m_begin; }
    bool ended() const { return m_state == State::Ended; }
    bool failed() const { return m_state == State::Failed; }
    QString error() const { return m_error; }
    /// Stream offset at which decoding broke off.
    qint64 errorAt() const { return m_errorAt; }
    /// Once it broke off: where the input known to be good ends (the start of the
    /// record it broke in, or of a record of zeros), and the decoded bytes made
    /// from it. What the decoder made after that may be garbage.
    qint64 goodInputEnd() const { return m_goodInputEnd; }
    qint64 goodDecoded() const { return m_goodDecoded; }
    /// Decoded bytes made before the input reached the first record flagged as
    /// unreadable; -1 while it has not.
    qint64 decodedAtUnreadable() const { return m_decodedAtUnreadable; }
    /// Decodes the rest of the stream and drops it, so consumed() tells where it ends.
    void drain();

private:
    enum class State { Running, Ended, Failed };
    static la_ssize_t readCallback(archive *reader, void *self, const void **buffer);
    static la_int64_t skipCallback(archive *reader, void *self, la_int64_t request);
    qint64 produce(unsigned char *out, qint64 maxLength);
    /// The output buffer, at least a piece long.
    unsigned char *output();
    bool refill();
    bool anotherStreamFollows();
    /// @p garbled: the decoder met bad bytes (rather than the input's end).
    void fail(const QString &why, bool garbled = true);
    /// Looks at the records that lie whole in the input buffer for one of zeros.
    void checkZeroRecords();
    /// How much of the input left may be given to the decoder in one step: up to
    /// the next place whose decoded position counts (record starts, damage).
    std::size_t stepInput(std::size_t inLeft);
    qint64 inputPosition() const { return m_inStart + qint64(m_inPos); }

    BodyStream m_stream;
    Compression m_kind;
    std::unique_ptr<Decoder> m_decoder;
    qint64 m_begin;
    qint64 m_end;
    QByteArray m_in;
    qint64 m_inStart; ///< stream offset of m_in's first byte
    std::size_t m_inPos = 0;
    std::size_t m_inLength = 0;
    bool m_inputDone = false;
    bool m_readFailed = false;
    QByteArray m_out;
    qint64 m_piece; ///< bytes to read, or to hand out, at a time: growing
    qint64 m_handed = 0; ///< decoded bytes given to libarchive, skipped ones included
    State m_state = State::Running;
    QString m_error;
    qint64 m_errorAt = -1;
    std::shared_ptr<const RecordLayout> m_layout;
    qint64 m_produced = 0; ///< decoded bytes made so far
    qint64 m_recordStart; ///< stream offset of the record the input is in
    qint64 m_producedAtRecord = 0; ///< decoded bytes made before it
    qint64 m_zeroRecord = -1; ///< the first record of zeros in the stream: damage
    qint64 m_zerosCheckedTo; ///< records before this were looked at
    qint64 m_unreadable = -1; ///< the first record flagged as unreadable
    qint64 m_decodedAtUnreadable = -1;
    qint64 m_goodInputEnd = -1;
    qint64 m_goodDecoded = -1;
};

} // namespace Quorlin
