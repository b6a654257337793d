#pragma once
/**
 * @file
 * The SHA-256 of an image, computed while the image is being written: a
 * thread follows the file as it grows and hashes what has arrived, so the
 * checksum costs the run no extra pass over the file at its end (on a second
 * core, it costs no time at all until hashing is slower than the tape).
 */
#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

class FileHasher
{
public:
    FileHasher() = default;
    ~FileHasher();
    FileHasher(const FileHasher &) = delete;
    FileHasher &operator=(const FileHasher &) = delete;

    /// Starts following the file open as @p fd (which it reopens for reading).
    bool start(int fd);

    /// Hashes the file up to @p length bytes, its final size, and returns the
    /// checksum in lower-case hex; empty when it was not started or the file
    /// changed under it (it became shorter than what was hashed).
    QString finish(qint64 length);

    /// The SHA-256 of all of the open file @p fd, read from its start; empty on a read error.
    static QString ofFile(int fd);

private:
    void follow();

    int m_fd = -1;
    std::thread m_thread;
    std::atomic<qint64> m_finalLength { -1 };
    std::atomic<bool> m_stop { false };
    qint64 m_hashed = 0;
    bool m_failed = false;
    QByteArray m_digest;
};
