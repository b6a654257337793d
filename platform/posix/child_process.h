#pragma once
/**
 * @file
 * A program run as a child that must not outlive the one that started it: it
 * gets SIGTERM when the starting thread ends (a batch killed outright leaves
 * no reader on a drive), runs in its own process group (a Ctrl-C reaches it
 * only through its parent, once), and sends its stdout and stderr down one
 * pipe, read line by line.
 */
#include <sys/types.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    /// Runs @p program with @p arguments (without the program's name) and this process's
    /// environment, each "NAME=VALUE" of @p settings replacing or adding one. False with
    /// @p error (an errno) when it could not be started.
    bool start(const std::string &program, const std::vector<std::string> &arguments,
        const std::vector<std::string> &settings, int &error);

    /// The next line it wrote, without its end; false once it closed its output. A
    /// carriage return also ends a line (a progress bar rewritten in place).
    bool readLine(std::string &line);

    /// Waits for it to end; its wait status (WIFEXITED, WTERMSIG...), -1 when not started.
    int wait();

    /// Sends @p signal to its process group, unless it has ended.
    void signal(int signal);

private:
    std::mutex m_lock; ///< between signal() from one thread and wait() from another
    pid_t m_pid = 0;
    std::FILE *m_output = nullptr;
};
