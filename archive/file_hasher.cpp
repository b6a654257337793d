#include "archive/file_hasher.h"

#include "platform/posix/native_file.h"

#include <openssl/evp.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr std::size_t kReadSize = 1 << 20;

struct DigestDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

Digest newDigest()
{
    Digest digest(EVP_MD_CTX_new());
    if (digest && EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1)
        digest.reset();
    return digest;
}

QByteArray hexOf(EVP_MD_CTX *digest)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(digest, bytes, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(bytes), int(length)).toHex();
}

/// Hashes @p fd's bytes from @p from up to @p to; false on a read error or a short file.
bool hashRange(int fd, EVP_MD_CTX *digest, qint64 &from, qint64 to, QByteArray &buffer)
{
    while (from < to) {
        const std::size_t wanted = std::size_t(qMin<qint64>(to - from, buffer.size()));
        const ssize_t got = ::pread(fd, buffer.data(), wanted, from);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        EVP_DigestUpdate(digest, buffer.constData(), std::size_t(got));
        from += got;
    }
    return true;
}

} // namespace

FileHasher::~FileHasher()
{
    finish(-1);
}

bool FileHasher::start(int fd)
{
    m_fd = ::open(NativeFile::nameOf(fd).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_thread = std::thread([this] { follow(); });
    return true;
}

void FileHasher::follow()
{
    const Digest digest = newDigest();
    QByteArray buffer(int(kReadSize), Qt::Uninitialized);
    m_failed = !digest;
    while (!m_failed) {
        const qint64 end = m_finalLength.load();
        if (m_stop && end < 0)
            return;
        const qint64 size = end >= 0 ? end : NativeFile::size(m_fd);
        if (size < m_hashed) {
            m_failed = true; // cut back under us: what was hashed is not the file
            return;
        }
        const bool hashed = hashRange(m_fd, digest.get(), m_hashed, size, buffer);
        if (end >= 0) {
            m_failed = !hashed;
            m_digest = hexOf(digest.get());
            return;
        }
        if (!hashed || size == m_hashed)
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // caught up with the writer
    }
}

QString FileHasher::finish(qint64 length)
{
    if (!m_thread.joinable())
        return QString();
    if (length < 0)
        m_stop = true;
    else
        m_finalLength = length;
    m_thread.join();
    ::close(m_fd);
    m_fd = -1;
    return m_failed || length < 0 ? QString() : QString::fromLatin1(m_digest);
}

QString FileHasher::ofFile(int fd)
{
    const Digest digest = newDigest();
    QByteArray buffer(int(kReadSize), Qt::Uninitialized);
    qint64 at = 0;
    const qint64 size = NativeFile::size(fd);
    if (!digest || size < 0 || !hashRange(fd, digest.get(), at, size, buffer))
        return QString();
    return QString::fromLatin1(hexOf(digest.get()));
}
