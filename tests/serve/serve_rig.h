// serve_rig.h: the real zentrel-serve as a child process, router directories, and raw loopback clients.
#pragma once
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrel::tests {

// A scratch directory removed with everything in it.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    const std::string &path() const { return m_path; }
    // A router directory `name` holding RESPONSE.TXT (unless script is null) and zentrel.ini.
    std::string router(const std::string &name, const char *script, const std::string &ini);
    void write(const std::string &relative, const std::string &bytes) const;
    std::string read(const std::string &relative) const;

private:
    std::string m_path;
};

// One JSON Lines event, flat: every value kept as its JSON text, strings
// unquoted and unescaped.
struct Event {
    std::map<std::string, std::string> fields;
    std::string line;
    const std::string &operator[](const std::string &key) const;
    bool is(const std::string &name) const { return (*this)["event"] == name; }
    int number(const std::string &key) const { return std::stoi((*this)[key]); }
};
Event parseEvent(const std::string &line);

// zentrel-serve with --events - appended (unless eventsToStdout is false),
// its stdout read as events and its stderr collected.
class ServeProcess
{
public:
    explicit ServeProcess(std::vector<std::string> arguments, bool eventsToStdout = true,
                          const std::string &cwd = "");
    ~ServeProcess();   // SIGKILL if still running
    ServeProcess(const ServeProcess &) = delete;
    ServeProcess &operator=(const ServeProcess &) = delete;

    // The next event, or none when the program closed stdout or 10 s passed.
    std::optional<Event> next(double timeoutSeconds = 10);
    // Reads events up to the first of that name; every one read is kept in events().
    std::optional<Event> until(const std::string &name, double timeoutSeconds = 10);
    const std::vector<Event> &events() const { return m_events; }
    // The port of each router, from its listening event; reads up to "ready".
    std::map<std::string, int> ports();

    void signal(int signo) const;
    // The exit status (128 + signal when killed), or -1 after the timeout.
    int wait(double timeoutSeconds = 10);
    std::string stderrText();

private:
    void pump(double timeoutSeconds);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outBuffer;
    std::string m_errText;
    std::vector<Event> m_events;
    int m_status = -1;
};

// A blocking loopback client.
class Client
{
public:
    explicit Client(int port, const char *address = "127.0.0.1");
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() const { return m_fd >= 0; }
    void send(const std::string &bytes) const;
    void shutdownWrite() const;
    void close();
    // Everything until the server closes (or the timeout); each chunk with
    // its arrival in seconds since the client connected.
    struct Chunk {
        double at;
        std::string bytes;
    };
    std::vector<Chunk> readAll(double timeoutSeconds = 10);
    // Reads until at least `count` bytes came (or the close, or the timeout).
    std::string readSome(std::size_t count, double timeoutSeconds = 10);
    bool closedByServer(double timeoutSeconds = 5);

private:
    int m_fd = -1;
    std::chrono::steady_clock::time_point m_start;
};

std::string joined(const std::vector<Client::Chunk> &chunks);

} // namespace zentrel::tests
