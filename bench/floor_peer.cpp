// floor_peer.cpp: the least a server can do for the command phase's traffic, to show what this machine's loopback allows.
//
// It takes the arguments the asyncio peer takes and answers the bench's
// generated commands.yaml the same way (the echo, the answer, the prompt),
// with one epoll loop, one read and one write per line, and nothing else: no
// events per line, no sessions, no timers, no line editing. Whatever latency it
// shows under the same client is the floor the machine sets for any server.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

struct Map {
    std::string prompt;
    std::unordered_map<std::string, std::string> answers;   // line -> answer as sent
};

// The value of a double-quoted string starting at text[at] (\n and \" and \\ only,
// as the bench writes them), with its line ends as CR LF; at moves past it.
std::string quoted(const std::string &text, std::size_t &at)
{
    std::string value;
    for (++at; at < text.size() && text[at] != '"'; ++at) {
        char c = text[at];
        if (c == '\\' && at + 1 < text.size()) {
            c = text[++at];
            if (c == 'n') {
                value += "\r\n";
                continue;
            }
        }
        value += c;
    }
    ++at;
    return value;
}

bool readMap(const std::string &directory, Map &map)
{
    std::ifstream in(directory + "/commands.yaml");
    if (!in)
        return false;
    for (std::string line; std::getline(in, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        if (line.compare(start, 7, "prompt:") == 0) {
            std::size_t at = line.find('"', start);
            if (at != std::string::npos)
                map.prompt = quoted(line, at);
        } else if (line[start] == '"') {
            std::size_t at = start;
            const std::string command = quoted(line, at);
            at = line.find("\"answer\"", at);
            if (at == std::string::npos)
                continue;
            at = line.find('"', at + 8);
            if (at != std::string::npos)
                map.answers[command] = quoted(line, at);
        }
    }
    return !map.prompt.empty();
}

struct Client {
    std::string pending;
    bool afterCr = false;
};

int listenOn(const std::string &address, int port)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(std::uint16_t(port));
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(fd, 4096) != 0)
        return -1;
    return fd;
}

int boundPort(int fd)
{
    sockaddr_in where{};
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    return ntohs(where.sin_port);
}

} // namespace

int main(int argc, char **argv)
{
    std::string address = "127.0.0.1";
    std::string eventsPath;
    int port = 0;
    int copies = 1;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = arg == "--port" || arg == "--listen" || arg == "--copies" || arg == "--sessions"
            || arg == "--events";
        if (valued && i + 1 >= argc) {
            std::fprintf(stderr, "floor_peer: %s needs a value\n", arg.c_str());
            return 2;
        }
        if (arg == "--port")
            port = std::atoi(argv[++i]);
        else if (arg == "--listen")
            address = argv[++i];
        else if (arg == "--copies")
            copies = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--sessions")
            ++i;   // every client is served at once
        else if (arg == "--events")
            eventsPath = argv[++i];
        else
            dirs.push_back(arg);
    }
    if (dirs.size() != 1) {
        std::fprintf(stderr, "usage: floor_peer [--port P] [--listen A] [--copies N] [--events F] DIR\n");
        return 2;
    }
    Map map;
    if (!readMap(dirs[0], map)) {
        std::fprintf(stderr, "floor_peer: %s: no commands.yaml with a prompt\n", dirs[0].c_str());
        return 2;
    }
    // The bench's own file in its own directory; a link planted there is not followed.
    const int eventsFd = eventsPath.empty()
        ? -1
        : ::open(eventsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (!eventsPath.empty() && eventsFd < 0) {
        std::fprintf(stderr, "floor_peer: %s: %s\n", eventsPath.c_str(), std::strerror(errno));
        return 2;
    }
    FILE *events = eventsFd < 0 ? nullptr : ::fdopen(eventsFd, "w");
    std::signal(SIGTERM, [](int) { stopping = 1; });
    std::signal(SIGINT, [](int) { stopping = 1; });
    std::signal(SIGPIPE, SIG_IGN);

    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> listeners;
    for (int copy = 1; copy <= copies; ++copy) {
        const int fd = listenOn(address, port > 0 ? port + copy - 1 : 0);
        if (fd < 0) {
            std::fprintf(stderr, "floor_peer: cannot listen: %s\n", std::strerror(errno));
            return 2;
        }
        listeners.push_back(fd);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = std::uint64_t(fd) | (1ull << 32);
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        if (events)
            std::fprintf(events, "{\"event\":\"listening\",\"router\":\"floor-%d\",\"address\":\"%s\",\"port\":%d}\n",
                         copy, address.c_str(), boundPort(fd));
    }
    if (events) {
        std::fprintf(events, "{\"event\":\"ready\"}\n");
        std::fflush(events);
    }

    const std::string greeting = std::string("\xff\xfb\x01\xff\xfb\x03", 6) + map.prompt;
    std::vector<Client> clients;
    std::vector<char> buffer(1 << 16);
    std::string reply;
    std::vector<epoll_event> ready(1024);
    while (!stopping) {
        const int n = ::epoll_wait(epoll, ready.data(), int(ready.size()), 100);
        for (int i = 0; i < n; ++i) {
            const int fd = int(std::uint32_t(ready[std::size_t(i)].data.u64));
            if (ready[std::size_t(i)].data.u64 >> 32) {
                for (int client; (client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                    const int on = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    if (std::size_t(client) >= clients.size())
                        clients.resize(std::size_t(client) + 1);
                    clients[std::size_t(client)] = {};
                    epoll_event event{};
                    event.events = EPOLLIN;
                    event.data.u64 = std::uint64_t(client);
                    ::epoll_ctl(epoll, EPOLL_CTL_ADD, client, &event);
                    (void)::send(client, greeting.data(), greeting.size(), MSG_NOSIGNAL);
                }
                continue;
            }
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                if (got < 0 && errno == EAGAIN)
                    continue;
                ::close(fd);   // also leaves the epoll set
                continue;
            }
            Client &client = clients[std::size_t(fd)];
            reply.clear();
            for (ssize_t k = 0; k < got; ++k) {
                const char c = buffer[std::size_t(k)];
                if (client.afterCr && (c == '\n' || c == '\0')) {
                    client.afterCr = false;
                    continue;
                }
                client.afterCr = c == '\r';
                if (c != '\r' && c != '\n') {
                    if (client.pending.size() < 4096)
                        client.pending += c;
                    continue;
                }
                reply += client.pending;
                reply += "\r\n";
                if (const auto answer = map.answers.find(client.pending); answer != map.answers.end())
                    reply += answer->second;
                reply += map.prompt;
                client.pending.clear();
            }
            if (!reply.empty())
                (void)::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }
    if (events)
        std::fclose(events);
    return 0;
}
