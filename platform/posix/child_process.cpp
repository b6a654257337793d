#include "platform/posix/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The environment as execve takes it: ours, with @p settings replacing or adding.
std::vector<std::string> environmentWith(const std::vector<std::string> &settings)
{
    std::vector<std::string> merged;
    for (char **entry = environ; entry && *entry; ++entry) {
        const std::string item(*entry);
        const std::string name = item.substr(0, item.find('=') + 1);
        bool replaced = false;
        for (const std::string &setting : settings)
            replaced = replaced || setting.compare(0, name.size(), name) == 0;
        if (!replaced)
            merged.push_back(item);
    }
    merged.insert(merged.end(), settings.begin(), settings.end());
    return merged;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> list;
    for (std::string &s : strings)
        list.push_back(&s[0]);
    list.push_back(nullptr);
    return list;
}

// Between fork and exec only async-signal-safe calls: everything is prepared before.
[[noreturn]] void becomeChild(
    pid_t parent, int output, int report, const char *program, char *const *argv, char *const *envp)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) // the parent ended before prctl took hold
        ::_exit(127);
    ::setpgid(0, 0);
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0)
        ::dup2(nothing, 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    // The handlers of the parent are gone after exec, but what it ignored or blocked stays.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    ::execve(program, argv, envp);
    const int error = errno;
    if (::write(report, &error, sizeof error) < 0) {
        // nobody left to tell
    }
    ::_exit(127);
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        signal(SIGTERM);
        wait();
    }
    if (m_output)
        std::fclose(m_output);
}

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &settings, int &error)
{
    std::vector<std::string> argvStrings { program };
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStrings = environmentWith(settings);
    std::vector<char *> argv = pointers(argvStrings), envp = pointers(envStrings);
    // Close-on-exec on both pipes, so that a child started by another thread at the
    // same moment does not keep this one's output open.
    int output[2], report[2];
    if (::pipe2(output, O_CLOEXEC) < 0) {
        error = errno;
        return false;
    }
    if (::pipe2(report, O_CLOEXEC) < 0) {
        error = errno;
        ::close(output[0]);
        ::close(output[1]);
        return false;
    }
    const pid_t parent = ::getpid();
    std::unique_lock<std::mutex> hold(m_lock);
    const pid_t pid = ::fork();
    if (pid == 0)
        becomeChild(parent, output[1], report[1], program.c_str(), argv.data(), envp.data());
    error = errno;
    ::close(output[1]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(output[0]);
        ::close(report[0]);
        return false;
    }
    // Also from here, so that a signal sent before the child ran setpgid finds the group.
    ::setpgid(pid, pid);
    int execError = 0;
    ssize_t got;
    do
        got = ::read(report[0], &execError, sizeof execError);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    m_pid = pid;
    m_output = ::fdopen(output[0], "r");
    if (got == sizeof execError || !m_output) {
        hold.unlock();
        error = got == sizeof execError ? execError : ENOMEM;
        if (!m_output)
            ::close(output[0]);
        wait();
        return false;
    }
    return true;
}

bool ChildProcess::readLine(std::string &line)
{
    line.clear();
    if (!m_output)
        return false;
    for (;;) {
        const int c = std::fgetc(m_output);
        if (c == EOF) {
            if (std::ferror(m_output) && errno == EINTR) {
                std::clearerr(m_output);
                continue;
            }
            return !line.empty();
        }
        if (c == '\n' || c == '\r') {
            if (!line.empty())
                return true;
            continue;
        }
        line += char(c);
    }
}

int ChildProcess::wait()
{
    pid_t pid;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        pid = m_pid;
    }
    if (pid <= 0)
        return -1;
    int status = 0;
    // Reaped under the lock only after it ended, so that signal() never reaches a new
    // process that took the number.
    siginfo_t ended = {};
    while (::waitid(P_PID, id_t(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) { }
    std::lock_guard<std::mutex> hold(m_lock);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    m_pid = 0;
    return status;
}

void ChildProcess::signal(int signal)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pid > 0)
        ::kill(-m_pid, signal);
}
