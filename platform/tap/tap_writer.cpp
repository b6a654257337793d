#include "platform/tap/tap_writer.h"

#include "platform/tap/tap_format.h"

TapWriter::~TapWriter()
{
    close();
}

bool TapWriter::open(const std::string &path)
{
    close();
    m_file = std::fopen(path.c_str(), "wb");
    m_failed = m_file == nullptr;
    return m_file != nullptr;
}

bool TapWriter::close()
{
    if (m_file) {
        if (std::fclose(m_file) != 0)
            m_failed = true;
        m_file = nullptr;
    }
    return !m_failed;
}

bool TapWriter::writeRaw(const void *data, std::size_t length)
{
    if (!m_file || (length > 0 && std::fwrite(data, 1, length, m_file) != length))
        m_failed = true;
    return !m_failed;
}

bool TapWriter::writeWord(std::uint32_t word)
{
    unsigned char bytes[4];
    TapFormat::putWord(bytes, word);
    return writeRaw(bytes, sizeof bytes);
}

bool TapWriter::writeRecord(const void *data, std::uint32_t length, bool error)
{
    const std::uint32_t word = TapFormat::recordWord(length, error);
    if (word == 0) {
        m_failed = true;
        return false;
    }
    const unsigned char pad = 0;
    return writeWord(word) && writeRaw(data, length) && ((length & 1) == 0 || writeRaw(&pad, 1))
        && writeWord(word);
}

bool TapWriter::writeTapeMark()
{
    return writeWord(TapFormat::kTapeMark);
}

bool TapWriter::writeEndOfMedium()
{
    return writeWord(TapFormat::kEndOfMedium);
}
