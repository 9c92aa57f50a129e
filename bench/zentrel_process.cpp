// zentrel_process.cpp: lays out a working directory, starts Zentrel headless, stops it with SIGTERM.
#include "zentrel_process.h"

#include "clock.h"
#include "proc_stats.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

extern char **environ;

namespace zentrel::bench {

namespace {

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

ZentrelProcess::ZentrelProcess(std::vector<std::string> command, std::string directory)
    : m_command(std::move(command)), m_directory(std::move(directory))
{
}

ZentrelProcess::~ZentrelProcess()
{
    if (running())
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

    return m_child.start(m_command, childEnvironment(m_directory), m_directory,
                         m_directory + "/zentrel.log", error);
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
                m_servingPid = m_child.pid();
            return true;
        }
        sleepFor(0.002);
    }
    error = "port " + std::to_string(m_port) + " did not listen within "
        + std::to_string(int(timeout)) + " s (a dialog waiting for the operator?)";
    return false;
}

} // namespace zentrel::bench
