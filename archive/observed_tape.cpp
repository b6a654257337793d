#include "archive/observed_tape.h"

#include "platform/win32_tape.h"

ObservedTape::ObservedTape(TapeBackend &tape, TapeLog &log)
    : m_tape(tape)
    , m_log(log)
{
}

HANDLE ObservedTape::wrap(HANDLE tape, TapeLog &log)
{
    return OpenTapeFilter(tape, [&log](TapeBackend &backend) {
        return std::unique_ptr<TapeBackend>(new ObservedTape(backend, log));
    });
}

DWORD ObservedTape::seekBlock(std::uint64_t block)
{
    const DWORD error = m_tape.seekBlock(block);
    if (block == 0)
        m_log.restart();
    return error;
}

DWORD ObservedTape::read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead)
{
    const DWORD error = m_tape.read(buffer, length, bytesRead);
    switch (error) {
    case NO_ERROR:
        m_log.record(bytesRead);
        break;
    case ERROR_FILEMARK_DETECTED:
        m_log.mark();
        break;
    case ERROR_MORE_DATA:
        m_log.cut(bytesRead, QStringLiteral("the image holds its first %1 bytes").arg(bytesRead));
        break;
    case ERROR_NO_DATA_DETECTED:
    case ERROR_END_OF_MEDIA:
        break; // the tape does not move
    default:
        // A data error, or the drive failing: either way the engine writes what came back.
        m_log.unreadable(bytesRead, 1,
            QStringLiteral("the image holds what the drive returned (%1 bytes, error %2), "
                           "padded with zeros")
                .arg(bytesRead)
                .arg(error));
        break;
    }
    return error;
}
