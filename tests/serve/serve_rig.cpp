// serve_rig.cpp: the real zentrel-serve as a child process, router directories, and raw loopback clients.
#include "serve_rig.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netdb.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zentrel::tests {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for the descriptor to become readable within what is left of the timeout.
bool readable(int fd, Clock::time_point start, double timeoutSeconds)
{
    const double left = timeoutSeconds - since(start);
    pollfd entry{fd, POLLIN, 0};
    return left > 0 && ::poll(&entry, 1, static_cast<int>(left * 1000) + 1) > 0;
}

} // namespace

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zentrel-serve-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchDir::router(const std::string &name, const char *script, const std::string &ini)
{
    std::filesystem::create_directories(m_path + "/" + name);
    if (script)
        write(name + "/RESPONSE.TXT", script);
    write(name + "/zentrel.ini", ini);
    return m_path + "/" + name;
}

void ScratchDir::write(const std::string &relative, const std::string &bytes) const
{
    std::ofstream(m_path + "/" + relative, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ScratchDir::read(const std::string &relative) const
{
    std::ostringstream text;
    text << std::ifstream(m_path + "/" + relative, std::ios::binary).rdbuf();
    return text.str();
}

std::string field(const std::string &event, const std::string &key)
{
    std::size_t at = event.find("\"" + key + "\":");
    if (at == std::string::npos)
        return {};
    at += key.size() + 3;
    if (event[at] != '"')
        return event.substr(at, event.find_first_of(",}", at) - at);
    std::string text;
    for (++at; at < event.size() && event[at] != '"'; ++at)
        text += event[at] == '\\' ? event[++at] : event[at];
    return text;
}

std::vector<std::string> named(const std::vector<std::string> &events, const std::string &name)
{
    std::vector<std::string> found;
    for (const std::string &event : events)
        if (isEvent(event, name))
            found.push_back(event);
    return found;
}

ServeProcess::ServeProcess(std::vector<std::string> arguments, bool eventsToStdout, int fdLimit)
{
    if (eventsToStdout) {
        arguments.push_back("--events");
        arguments.push_back("-");
    }
    char errPath[] = "/tmp/zentrel-serve-stderr-XXXXXX";
    const int err = ::mkstemp(errPath);
    m_errPath = errPath;
    int out[2];
    if (err < 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe or stderr file");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        const rlimit limit{static_cast<rlim_t>(fdLimit), static_cast<rlim_t>(fdLimit)};
        if (fdLimit > 0 && ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(126);
        std::vector<char *> argv{const_cast<char *>(ZENTREL_SERVE_BINARY)};
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(ZENTREL_SERVE_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(err);
    ::close(out[1]);
    m_out = out[0];
}

ServeProcess::~ServeProcess()
{
    if (m_status < 0 && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_out);
    ::unlink(m_errPath.c_str());
}

// One more event into events(); false at the end of stdout or after the timeout.
bool ServeProcess::readLine(double timeoutSeconds)
{
    const auto start = Clock::now();
    for (std::size_t end; (end = m_buffer.find('\n')) == std::string::npos;) {
        char chunk[65536];
        if (!readable(m_out, start, timeoutSeconds))
            return false;
        const ssize_t got = ::read(m_out, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
    const std::size_t end = m_buffer.find('\n');
    m_events.push_back(m_buffer.substr(0, end));
    m_buffer.erase(0, end + 1);
    return true;
}

std::optional<std::string> ServeProcess::until(const std::string &name, double timeoutSeconds)
{
    const auto start = Clock::now();
    while (readLine(timeoutSeconds - since(start)))
        if (isEvent(m_events.back(), name))
            return m_events.back();
    return std::nullopt;
}

std::map<std::string, int> ServeProcess::ports()
{
    until("ready");
    std::map<std::string, int> ports;
    for (const std::string &event : named(m_events, "listening"))
        ports[field(event, "router")] = std::stoi(field(event, "port"));
    return ports;
}

void ServeProcess::signal(int signo) const
{
    ::kill(m_pid, signo);
}

int ServeProcess::wait(double timeoutSeconds)
{
    const auto start = Clock::now();
    while (readLine(timeoutSeconds - since(start)))
        ;
    int status = 0;
    while (m_status < 0 && since(start) < timeoutSeconds) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else
            ::usleep(10000);
    }
    return m_status;
}

std::string ServeProcess::stderrText() const
{
    std::ostringstream text;
    text << std::ifstream(m_errPath, std::ios::binary).rdbuf();
    return text.str();
}

Client::Client(int port, const char *address) : m_start(Clock::now())
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0)
        return;
    m_fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(m_fd, found->ai_addr, found->ai_addrlen) != 0)
        close();
    ::freeaddrinfo(found);
}

void Client::send(const std::string &bytes) const
{
    if (::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("client send failed");
}

void Client::shutdownWrite() const
{
    ::shutdown(m_fd, SHUT_WR);
}

void Client::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::vector<Client::Chunk> Client::read(std::size_t atLeast, double timeoutSeconds)
{
    std::vector<Chunk> chunks;
    const auto start = Clock::now();
    for (std::size_t total = 0; total < atLeast && readable(m_fd, start, timeoutSeconds);) {
        char buffer[65536];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        chunks.push_back({since(m_start), std::string(buffer, static_cast<std::size_t>(got))});
        total += static_cast<std::size_t>(got);
    }
    return chunks;
}

std::string Client::readAll(double timeoutSeconds)
{
    return joined(read(SIZE_MAX, timeoutSeconds));
}

std::string joined(const std::vector<Client::Chunk> &chunks)
{
    std::string bytes;
    for (const auto &chunk : chunks)
        bytes += chunk.bytes;
    return bytes;
}

} // namespace zentrel::tests
