// child_process.h: a program the bench starts in a directory, its output in a log, stopped with SIGTERM.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrel::bench {

// How a process ended when the bench stopped it.
struct StopOutcome
{
    bool clean = false;        // exited with status 0 within the grace period
    bool killed = false;       // needed SIGKILL
    std::string description;   // "exit 0 after 12 ms", "killed after 5 s", ...
};

std::string describeStatus(int status);

// Writes the whole file; false when it cannot.
bool writeFile(const std::string &path, const std::string &bytes);

// Started with /dev/null as stdin and stdout and stderr in one log file; it
// ends with the bench, however the bench ends.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // `command` is the program and its arguments, looked up in PATH; an empty
    // `environment` passes on the bench's own. False with `error` set when
    // fork fails; a program that cannot start ends with status 127.
    bool start(std::vector<std::string> command, const std::vector<std::string> &environment,
               const std::string &directory, const std::string &logPath, std::string &error);

    pid_t pid() const { return m_pid; }
    double startedAt() const { return m_startedAt; }
    // False once the process has ended; `how` then says how.
    bool running(std::string *how = nullptr);
    // SIGTERM to `target` (the child when -1), then SIGKILL to it and the
    // child after `grace` seconds.
    StopOutcome stop(double grace, pid_t target = -1);
    // The last bytes of the log.
    std::string logTail(std::size_t bytes) const;

private:
    std::string m_logPath;
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_reaped = false;
    double m_startedAt = 0;
};

} // namespace zentrel::bench
