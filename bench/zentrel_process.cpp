// zentrel_process.cpp: lays out a working directory, starts Zentrel headless, stops it with SIGTERM.
#include "zentrel_process.h"

#include "clock.h"
#include "proc_stats.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace zentrel::bench {

namespace {

bool writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

// The bench's own environment, less what would point Zentrel elsewhere.
std::vector<std::string> childEnvironment(const std::string &directory)
{
    std::vector<std::string> environment;
    const auto dropped = [](const std::string &variable) {
        for (const char *name : {"QT_QPA_PLATFORM=", "TMPDIR=", "XDG_RUNTIME_DIR="}) {
            if (variable.rfind(name, 0) == 0)
                return true;
        }
        return false;
    };
    for (char **entry = environ; *entry; ++entry) {
        if (!dropped(*entry))
            environment.push_back(*entry);
    }
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    environment.push_back("TMPDIR=" + directory + "/tmp");
    environment.push_back("XDG_RUNTIME_DIR=" + directory + "/runtime");
    return environment;
}

} // namespace

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + std::to_string(WTERMSIG(status)) + " ("
            + strsignal(WTERMSIG(status)) + (WCOREDUMP(status) ? ", core dumped)" : ")");
    return "status " + std::to_string(status);
}

ZentrelProcess::ZentrelProcess(std::vector<std::string> command, std::string directory)
    : m_command(std::move(command)), m_directory(std::move(directory))
{
}

ZentrelProcess::~ZentrelProcess()
{
    if (m_pid > 0 && !m_reaped)
        stop(5.0);
}

bool ZentrelProcess::start(const Script &script, const std::string &delayText, std::string &error)
{
    if (routerConfig().size() != routerConfigSize) {
        error = "ROUTER.CFG would not be the default 376 bytes";
        return false;
    }
    m_port = freePort();
    if (m_port <= 0) {
        error = "no free port found";
        return false;
    }
    const std::string ini = "[Settings]\r\nTCP-Port=" + std::to_string(m_port) + "\r\nDelay="
        + delayText + "\r\n";
    if (::mkdir(m_directory.c_str(), 0700) != 0 || ::mkdir((m_directory + "/tmp").c_str(), 0700) != 0
        || ::mkdir((m_directory + "/runtime").c_str(), 0700) != 0
        || !writeFile(m_directory + "/RESPONSE.TXT", script.file)
        || !writeFile(m_directory + "/ROUTER.CFG", routerConfig())
        || !writeFile(m_directory + "/zentrel.ini", ini)) {
        error = "cannot lay out " + m_directory + ": " + strerror(errno);
        return false;
    }

    // Everything the child needs is built before fork: between fork and exec
    // it only makes system calls.
    const std::vector<std::string> environment = childEnvironment(m_directory);
    std::vector<char *> envp;
    for (const auto &variable : environment)
        envp.push_back(const_cast<char *>(variable.c_str()));
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (auto &argument : m_command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string logPath = m_directory + "/zentrel.log";
    const pid_t parent = getpid();

    m_startedAt = now();
    m_pid = fork();
    if (m_pid < 0) {
        error = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (m_pid == 0) {
        // Ends with the bench, however the bench ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_RDONLY);
        if (log < 0 || null < 0 || chdir(m_directory.c_str()) != 0)
            _exit(127);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return true;
}

bool ZentrelProcess::running(std::string *how)
{
    if (!m_reaped && m_pid > 0) {
        const pid_t done = waitpid(m_pid, &m_status, WNOHANG);
        if (done == m_pid)
            m_reaped = true;
    }
    if (m_reaped && how)
        *how = describeStatus(m_status);
    return m_pid > 0 && !m_reaped;
}

bool ZentrelProcess::waitListening(double timeout, std::string &error)
{
    const double deadline = now() + timeout;
    while (now() < deadline) {
        std::string how;
        if (!running(&how)) {
            error = "Zentrel ended before it listened (" + how + ")";
            return false;
        }
        if (const auto socket = listeningSocket(m_port)) {
            m_host = socket->host;
            m_listeningAt = now();
            m_servingPid = socketOwner(socket->inode);
            if (m_servingPid <= 0)
                m_servingPid = m_pid;
            return true;
        }
        sleepFor(0.002);
    }
    error = "port " + std::to_string(m_port) + " did not listen within "
        + std::to_string(int(timeout)) + " s (a dialog waiting for the operator?)";
    return false;
}

StopOutcome ZentrelProcess::stop(double grace)
{
    StopOutcome outcome;
    std::string how;
    if (!running(&how)) {
        outcome.description = "had already ended (" + how + ")";
        return outcome;
    }
    const double asked = now();
    ::kill(m_servingPid > 0 ? m_servingPid : m_pid, SIGTERM);
    while (now() - asked < grace) {
        if (!running(&how)) {
            const int ms = int(std::lround((now() - asked) * 1000));
            outcome.clean = WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
            outcome.description = how + " " + std::to_string(ms) + " ms after SIGTERM";
            return outcome;
        }
        sleepFor(0.002);
    }
    if (m_servingPid > 0 && m_servingPid != m_pid)
        ::kill(m_servingPid, SIGKILL);
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, &m_status, 0);
    m_reaped = true;
    outcome.killed = true;
    outcome.description = "still running " + std::to_string(int(grace))
        + " s after SIGTERM; killed";
    return outcome;
}

std::string ZentrelProcess::logTail(std::size_t bytes) const
{
    std::ifstream log(m_directory + "/zentrel.log", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

} // namespace zentrel::bench
