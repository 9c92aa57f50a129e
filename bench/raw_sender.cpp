// raw_sender.cpp: accept, send everything, close; one client at a time on its own thread.
#include "raw_sender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

RawSender::RawSender(std::string bytes) : m_bytes(std::move(bytes))
{
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return;
    int on = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 64) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

RawSender::~RawSender()
{
    if (m_thread.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(m_stopPipe[1], &byte, 1);
        m_thread.join();
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_stopPipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void RawSender::serve()
{
    for (;;) {
        pollfd watch[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watch[1].revents)
            return;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::size_t sent = 0;
        while (sent < m_bytes.size()) {
            const ssize_t n = ::send(client, m_bytes.data() + sent, m_bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            sent += std::size_t(n);
        }
        ::close(client);
    }
}

} // namespace zentrel::bench
