// child_process.cpp: fork and exec with the output logged, waiting without blocking, SIGTERM then SIGKILL.
#include "child_process.h"

#include "clock.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zentrel::bench {

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + std::to_string(WTERMSIG(status)) + " ("
            + strsignal(WTERMSIG(status)) + (WCOREDUMP(status) ? ", core dumped)" : ")");
    return "status " + std::to_string(status);
}

bool writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped)
        stop(5.0);
}

bool ChildProcess::start(std::vector<std::string> command, const std::vector<std::string> &environment,
                         const std::string &directory, const std::string &logPath, std::string &error)
{
    // Everything the child needs is built before fork: between fork and exec
    // it only makes system calls.
    std::vector<char *> envp;
    for (const auto &variable : environment)
        envp.push_back(const_cast<char *>(variable.c_str()));
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (auto &argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    m_logPath = logPath;
    const pid_t parent = getpid();

    m_startedAt = now();
    m_pid = fork();
    if (m_pid < 0) {
        error = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_RDONLY);
        if (log < 0 || null < 0 || chdir(directory.c_str()) != 0)
            _exit(127);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        if (environment.empty())
            execvp(argv[0], argv.data());
        else
            execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return true;
}

bool ChildProcess::running(std::string *how)
{
    if (!m_reaped && m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == m_pid)
        m_reaped = true;
    if (m_reaped && how)
        *how = describeStatus(m_status);
    return m_pid > 0 && !m_reaped;
}

StopOutcome ChildProcess::stop(double grace, pid_t target)
{
    StopOutcome outcome;
    std::string how;
    if (!running(&how)) {
        outcome.description = "had already ended (" + how + ")";
        return outcome;
    }
    if (target <= 0)
        target = m_pid;
    const double asked = now();
    ::kill(target, SIGTERM);
    while (now() - asked < grace) {
        if (!running(&how)) {
            const int ms = int(std::lround((now() - asked) * 1000));
            outcome.clean = WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
            outcome.description = how + " " + std::to_string(ms) + " ms after SIGTERM";
            return outcome;
        }
        sleepFor(0.002);
    }
    if (target != m_pid)
        ::kill(target, SIGKILL);
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, &m_status, 0);
    m_reaped = true;
    outcome.killed = true;
    outcome.description = "still running " + std::to_string(int(grace)) + " s after SIGTERM; killed";
    return outcome;
}

std::string ChildProcess::logTail(std::size_t bytes) const
{
    std::ifstream log(m_logPath, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

} // namespace zentrel::bench
