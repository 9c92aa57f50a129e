// zentrel_process.h: one Zentrel process in a working directory of its own.
#pragma once
#include "child_process.h"
#include "script.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrel::bench {

// Lays out a fresh directory (RESPONSE.TXT, ROUTER.CFG, zentrel.ini, a TMPDIR
// and an XDG_RUNTIME_DIR of its own, so the per-user lock never sees another
// copy), starts the program there on Qt's offscreen platform, and stops it
// with SIGTERM, which Zentrel turns into the window's Exit.
class ZentrelProcess
{
public:
    // `command` is the program and its arguments; the program is looked up in PATH.
    ZentrelProcess(std::vector<std::string> command, std::string directory);
    ~ZentrelProcess();

    // Writes the files and starts the program; false with `error` set on failure.
    bool start(const Script &script, const std::string &delayText, std::string &error);
    // Waits until the port listens, without connecting to it. Fails when the
    // process ends first or `timeout` seconds pass.
    bool waitListening(double timeout, std::string &error);

    // The process that holds the listening socket: Zentrel itself, also
    // when a wrapper started it as a child of its own.
    pid_t pid() const { return m_servingPid; }
    int port() const { return m_port; }
    const std::string &host() const { return m_host; }
    const std::string &directory() const { return m_directory; }
    double startSeconds() const { return m_listeningAt - m_child.startedAt(); }
    // False once the process has ended; `how` then says how.
    bool running(std::string *how = nullptr) { return m_child.running(how); }
    StopOutcome stop(double grace) { return m_child.stop(grace, m_servingPid); }
    // The last lines the program wrote to stdout and stderr.
    std::string logTail(std::size_t bytes = 2000) const { return m_child.logTail(bytes); }

private:
    std::vector<std::string> m_command;
    std::string m_directory;
    ChildProcess m_child;      // the process started, Zentrel or its wrapper
    pid_t m_servingPid = -1;
    int m_port = -1;
    std::string m_host;
    double m_listeningAt = 0;
};

} // namespace zentrel::bench
