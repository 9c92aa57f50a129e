// serve_rig.cpp: the real zentrel-serve as a child process, router directories, and raw loopback clients.
#include "serve_rig.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zentrel::tests {

namespace {

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int remainingMs(std::chrono::steady_clock::time_point start, double timeoutSeconds)
{
    const double left = timeoutSeconds - since(start);
    return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
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
    std::ofstream out(m_path + "/" + relative, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ScratchDir::read(const std::string &relative) const
{
    std::ifstream in(m_path + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string &Event::operator[](const std::string &key) const
{
    static const std::string none;
    const auto found = fields.find(key);
    return found == fields.end() ? none : found->second;
}

Event parseEvent(const std::string &line)
{
    Event event;
    event.line = line;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == ',' || line[i] == '{' || line[i] == '}'))
            ++i;
    };
    auto string = [&] {
        std::string text;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] != '\\') {
                text += line[i];
                continue;
            }
            const char escaped = line[++i];
            switch (escaped) {
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case 'u': text += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16)); i += 4; break;
            default: text += escaped;
            }
        }
        ++i;
        return text;
    };
    for (skip(); i < line.size() && line[i] == '"'; skip()) {
        const std::string key = string();
        ++i;   // ':'
        if (line[i] == '"') {
            event.fields[key] = string();
            continue;
        }
        // A number, a word, or an array / object kept as raw text.
        const std::size_t start = i;
        int depth = 0;
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '[' || c == '{')
                ++depth;
            else if ((c == ']' || c == '}') && depth > 0)
                --depth;
            else if ((c == ',' || c == '}') && depth == 0)
                break;
        }
        event.fields[key] = line.substr(start, i - start);
    }
    return event;
}

ServeProcess::ServeProcess(std::vector<std::string> arguments, bool eventsToStdout, const std::string &cwd)
{
    if (eventsToStdout) {
        arguments.push_back("--events");
        arguments.push_back("-");
    }
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(ZENTREL_SERVE_BINARY));
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(ZENTREL_SERVE_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

ServeProcess::~ServeProcess()
{
    if (m_status < 0 && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
    if (m_err >= 0)
        ::close(m_err);
}

// Reads whatever stdout and stderr have, waiting at most the timeout for something.
void ServeProcess::pump(double timeoutSeconds)
{
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeoutSeconds * 1000)) <= 0)
        return;
    char buffer[65536];
    for (int k = 0; k < 2; ++k) {
        if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
        if (got <= 0) {
            ::close(fds[k].fd);
            (k == 0 ? m_out : m_err) = -1;
            continue;
        }
        (k == 0 ? m_outBuffer : m_errText).append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<Event> ServeProcess::next(double timeoutSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const std::size_t end = m_outBuffer.find('\n');
        if (end != std::string::npos) {
            m_events.push_back(parseEvent(m_outBuffer.substr(0, end)));
            m_outBuffer.erase(0, end + 1);
            return m_events.back();
        }
        if (m_out < 0 || since(start) > timeoutSeconds)
            return std::nullopt;
        pump(remainingMs(start, timeoutSeconds) / 1000.0);
    }
}

std::optional<Event> ServeProcess::until(const std::string &name, double timeoutSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    while (auto event = next(timeoutSeconds - since(start)))
        if (event->is(name))
            return event;
    return std::nullopt;
}

std::map<std::string, int> ServeProcess::ports()
{
    until("ready");
    std::map<std::string, int> ports;
    for (const Event &event : m_events)
        if (event.is("listening"))
            ports[event["router"]] = event.number("port");
    return ports;
}

void ServeProcess::signal(int signo) const
{
    ::kill(m_pid, signo);
}

int ServeProcess::wait(double timeoutSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    while (m_status < 0 && since(start) < timeoutSeconds) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        pump(0.01);
    }
    // What is left in the pipes after the exit.
    while (m_out >= 0 || m_err >= 0) {
        pump(0.2);
        if (m_status < 0)
            break;
    }
    return m_status;
}

std::string ServeProcess::stderrText()
{
    if (m_err >= 0)
        pump(0);
    return m_errText;
}

Client::Client(int port, const char *address) : m_start(std::chrono::steady_clock::now())
{
    const bool v6 = std::strchr(address, ':') != nullptr;
    m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage {};
    socklen_t length;
    if (v6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET6, address, &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, address, &in4->sin_addr);
        length = sizeof *in4;
    }
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&storage), length) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Client::~Client()
{
    close();
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

std::vector<Client::Chunk> Client::readAll(double timeoutSeconds)
{
    std::vector<Chunk> chunks;
    const auto start = std::chrono::steady_clock::now();
    char buffer[65536];
    while (since(start) < timeoutSeconds) {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, remainingMs(start, timeoutSeconds)) <= 0)
            continue;
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        chunks.push_back({since(m_start), std::string(buffer, static_cast<std::size_t>(got))});
    }
    return chunks;
}

std::string Client::readSome(std::size_t count, double timeoutSeconds)
{
    std::string bytes;
    const auto start = std::chrono::steady_clock::now();
    char buffer[65536];
    while (bytes.size() < count && since(start) < timeoutSeconds) {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, remainingMs(start, timeoutSeconds)) <= 0)
            continue;
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool Client::closedByServer(double timeoutSeconds)
{
    pollfd fd{m_fd, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeoutSeconds * 1000)) <= 0)
        return false;
    char byte;
    return ::recv(m_fd, &byte, 1, MSG_PEEK) <= 0;
}

std::string joined(const std::vector<Client::Chunk> &chunks)
{
    std::string bytes;
    for (const auto &chunk : chunks)
        bytes += chunk.bytes;
    return bytes;
}

} // namespace zentrel::tests
