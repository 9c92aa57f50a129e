// serve_process.cpp: starts a fleet server on a fresh router directory, follows its events, stops it.
#include "serve_process.h"

#include "clock.h"

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

namespace zentrel::bench {

namespace {

bool writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

} // namespace

ServeProcess::ServeProcess(std::vector<std::string> command, std::string directory)
    : m_command(std::move(command)), m_directory(std::move(directory)),
      m_events(m_directory + "/events.jsonl")
{
}

ServeProcess::~ServeProcess()
{
    if (m_pid > 0 && !m_reaped)
        stop(5.0);
}

bool ServeProcess::start(const Script &script, const std::string &delayText, std::string &error)
{
    const std::string router = m_directory + "/router";
    // The port is a placeholder: every run passes --port 0.
    const std::string ini = "[Settings]\r\nTCP-Port=1101\r\nDelay=" + delayText + "\r\n";
    if (::mkdir(m_directory.c_str(), 0700) != 0 || ::mkdir(router.c_str(), 0700) != 0
        || !writeFile(router + "/RESPONSE.TXT", script.file) || !writeFile(router + "/zentrel.ini", ini)) {
        error = "cannot lay out " + m_directory + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> command = m_command;
    command.insert(command.end(), {"--events", m_directory + "/events.jsonl", router});
    std::vector<char *> argv;
    for (auto &argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string logPath = m_directory + "/server.log";
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
        if (log < 0 || null < 0 || chdir(m_directory.c_str()) != 0)
            _exit(127);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return true;
}

void ServeProcess::readEvents(const std::function<void(const ServerEvent &)> &handle)
{
    while (const auto line = m_events.nextLine()) {
        if (const auto event = ServerEvent::parse(*line))
            handle(*event);
        else
            ++m_unreadable;
    }
}

bool ServeProcess::waitReady(double timeout, std::string &error)
{
    const double deadline = now() + timeout;
    bool ready = false;
    while (!ready && now() < deadline) {
        readEvents([&](const ServerEvent &event) {
            if (event.kind() == "listening")
                m_routers.push_back({event.text("router"), event.text("address"),
                                     int(event.number("port"))});
            else if (event.kind() == "ready" && !ready) {
                ready = true;
                m_readyAt = now();
            }
        });
        if (ready)
            break;
        std::string how;
        if (!running(&how)) {
            error = "the server ended before it was ready (" + how + ")";
            return false;
        }
        sleepFor(0.0005);
    }
    if (!ready) {
        error = "no ready event within " + std::to_string(int(timeout)) + " s";
        return false;
    }
    return true;
}

bool ServeProcess::running(std::string *how)
{
    if (!m_reaped && m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == m_pid)
        m_reaped = true;
    if (m_reaped && how)
        *how = describeStatus(m_status);
    return m_pid > 0 && !m_reaped;
}

StopOutcome ServeProcess::stop(double grace)
{
    StopOutcome outcome;
    std::string how;
    if (!running(&how)) {
        outcome.description = "had already ended (" + how + ")";
        return outcome;
    }
    const double asked = now();
    ::kill(m_pid, SIGTERM);
    while (now() - asked < grace) {
        if (!running(&how)) {
            const int ms = int(std::lround((now() - asked) * 1000));
            outcome.clean = WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
            outcome.description = how + " " + std::to_string(ms) + " ms after SIGTERM";
            return outcome;
        }
        sleepFor(0.002);
    }
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, &m_status, 0);
    m_reaped = true;
    outcome.killed = true;
    outcome.description = "still running " + std::to_string(int(grace)) + " s after SIGTERM; killed";
    return outcome;
}

std::string ServeProcess::logTail(std::size_t bytes) const
{
    std::ifstream log(m_directory + "/server.log", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

} // namespace zentrel::bench
