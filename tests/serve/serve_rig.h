// serve_rig.h: the real zentrel-serve as a child process, router directories, and raw loopback clients.
#pragma once
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrel::tests {

// A scratch directory, removed with everything in it.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    const std::string &path() const { return m_path; }
    // A router directory holding RESPONSE.TXT (unless script is null) and zentrel.ini.
    std::string router(const std::string &name, const char *script, const std::string &ini);
    void write(const std::string &relative, const std::string &bytes) const;
    std::string read(const std::string &relative) const;

private:
    std::string m_path;
};

// One field of a flat JSON Lines event: strings unquoted (\" and \\ undone), other values as written.
std::string field(const std::string &event, const std::string &key);
inline bool isEvent(const std::string &event, const std::string &name) { return field(event, "event") == name; }
std::vector<std::string> named(const std::vector<std::string> &events, const std::string &name);

// zentrel-serve with "--events -" appended when eventsToStdout, its stdout
// read as events, its stderr collected in a file.
class ServeProcess
{
public:
    // fdLimit > 0: the program's soft and hard descriptor limit.
    explicit ServeProcess(std::vector<std::string> arguments, bool eventsToStdout = true, int fdLimit = 0);
    ~ServeProcess();   // SIGKILL if still running
    ServeProcess(const ServeProcess &) = delete;
    ServeProcess &operator=(const ServeProcess &) = delete;

    // Reads events up to the first of that name (kept in events()); none after the timeout.
    std::optional<std::string> until(const std::string &name, double timeoutSeconds = 10);
    const std::vector<std::string> &events() const { return m_events; }
    // Each router's port, from the listening events up to "ready".
    std::map<std::string, int> ports();

    void signal(int signo) const;
    pid_t pid() const { return m_pid; }
    // The exit status (128 + signal when killed), -1 after the timeout; reads the rest of the events.
    int wait(double timeoutSeconds = 10);
    std::string stderrText() const;

private:
    bool readLine(double timeoutSeconds);

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_errPath;
    std::string m_buffer;
    std::vector<std::string> m_events;
    int m_status = -1;
};

// A blocking loopback client, IPv4 or IPv6.
class Client
{
public:
    explicit Client(int port, const char *address = "127.0.0.1");
    ~Client() { close(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() const { return m_fd >= 0; }
    void send(const std::string &bytes) const;
    void shutdownWrite() const;
    void close();
    struct Chunk {
        double at;   // seconds since the client connected
        std::string bytes;
    };
    // Reads until `atLeast` bytes came, the server closed, or the timeout.
    std::vector<Chunk> read(std::size_t atLeast = SIZE_MAX, double timeoutSeconds = 10);
    std::string readAll(double timeoutSeconds = 10);

private:
    int m_fd = -1;
    std::chrono::steady_clock::time_point m_start;
};

std::string joined(const std::vector<Client::Chunk> &chunks);

} // namespace zentrel::tests
