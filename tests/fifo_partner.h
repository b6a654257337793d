#pragma once
// The other end of a FIFO planted where the program expects a file.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

/**
 * Opens the other end of a FIFO some seconds after it was made, as the user who planted it
 * would: a program that waits in open() is let go, so such a fault fails the test (with
 * what the program wrote into the FIFO) instead of hanging it. Without a path it does
 * nothing.
 */
class FifoPartner
{
public:
    enum class End { Reads, Writes };

    FifoPartner(const QString &path, End end)
    {
        if (!path.isEmpty())
            m_thread = std::thread([this, name = QFile::encodeName(path), end] {
                wait();
                if (end == End::Reads)
                    drain(name);
                else
                    knock(name);
            });
    }
    ~FifoPartner() { taken(); }
    FifoPartner(const FifoPartner &) = delete;
    FifoPartner &operator=(const FifoPartner &) = delete;

    /// What the program wrote into the FIFO; ends the partner's wait.
    QByteArray taken()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_taken;
    }

private:
    void wait()
    {
        for (int waited = 0; waited < 100 && !m_stop; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    void drain(const QByteArray &name)
    {
        const int fd = m_stop ? -1 : ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        char chunk[65536];
        while (fd >= 0 && !m_stop) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got == 0)
                break; // the writer closed it
            if (got > 0)
                m_taken.append(chunk, int(got));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fd >= 0)
            ::close(fd);
    }

    void knock(const QByteArray &name)
    {
        while (!m_stop) { // fails (ENXIO) until a reader waits
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    QByteArray m_taken;
};
