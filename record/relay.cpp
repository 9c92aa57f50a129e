// relay.cpp: the transparent TCP relay between a client and the router it records.
#include "record/relay.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace zentrel::record {

namespace {

constexpr std::size_t ReadSize = 16 * 1024;

std::string errorText(int code)
{
    return std::strerror(code);
}

} // namespace

Relay::Relay(platform::PosixLoop &loop, int clientFd, Events events, std::size_t capacity)
    : m_loop(loop), m_events(std::move(events)), m_capacity(capacity), m_client(clientFd)
{
}

Relay::~Relay()
{
    if (m_connectTimer)
        m_loop.cancel(m_connectTimer);
    for (int fd : {m_client, m_router}) {
        if (fd >= 0) {
            if (m_loop.watching(fd))
                m_loop.unwatch(fd);
            ::close(fd);
        }
    }
}

void Relay::start(const sockaddr_storage &router, socklen_t length)
{
    m_router = ::socket(router.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_router < 0) {
        const int code = errno;
        m_loop.post([this, code] { finish("no socket for the router: " + errorText(code), true); });
        return;
    }
    const int one = 1;
    ::setsockopt(m_router, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(m_router, reinterpret_cast<const sockaddr *>(&router), length) != 0
        && errno != EINPROGRESS) {
        const int code = errno;
        m_loop.post([this, code] { finish("the router cannot be reached: " + errorText(code), true); });
        return;
    }
    m_connecting = true;
    m_loop.watch(m_router, EPOLLOUT, [this](std::uint32_t ready) { onRouter(ready); });
    m_connectTimer = m_loop.at(m_loop.now() + ConnectTimeout, [this] {
        m_connectTimer = 0;
        finish("the router cannot be reached: no answer within 15 seconds", true);
    });
}

void Relay::connectDone()
{
    int code = 0;
    socklen_t size = sizeof code;
    if (::getsockopt(m_router, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
        code = errno;
    if (code != 0) {
        finish("the router cannot be reached: " + errorText(code), true);
        return;
    }
    m_connecting = false;
    m_loop.cancel(m_connectTimer);
    m_connectTimer = 0;
    m_loop.watch(m_client, EPOLLIN, [this](std::uint32_t ready) { onClient(ready); });
    if (m_events.connected)
        m_events.connected();
    rearm();
}

void Relay::stop(const std::string &why)
{
    finish(why, false);
}

bool Relay::pull(int fd, Pipe &pipe, bool fromClient)
{
    char buffer[ReadSize];
    while (!pipe.eof && pipe.size() < m_capacity) {
        const std::size_t room = std::min(ReadSize, m_capacity - pipe.size());
        const ssize_t got = ::recv(fd, buffer, room, 0);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            if (errno == EINTR)
                continue;
            finish(std::string(fromClient ? "the client" : "the router") + " connection failed: "
                       + errorText(errno),
                   false);
            return false;
        }
        if (got == 0) {
            pipe.eof = true;
            return true;
        }
        const std::string_view bytes(buffer, std::size_t(got));
        const auto &report = fromClient ? m_events.fromClient : m_events.fromRouter;
        if (report)
            report(m_loop.now(), bytes);
        if (pipe.head > 0 && pipe.head == pipe.bytes.size()) {
            pipe.bytes.clear();
            pipe.head = 0;
        }
        pipe.bytes += bytes;
    }
    return true;
}

bool Relay::push(int fd, Pipe &pipe)
{
    while (pipe.size() > 0) {
        const ssize_t sent = ::send(fd, pipe.bytes.data() + pipe.head, pipe.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (errno == EINTR)
                continue;
            finish(std::string(fd == m_client ? "the client" : "the router") + " is gone: "
                       + errorText(errno),
                   false);
            return false;
        }
        pipe.head += std::size_t(sent);
    }
    if (pipe.size() == 0) {
        pipe.bytes.clear();
        pipe.head = 0;
    } else if (pipe.head > m_capacity / 2) {
        pipe.bytes.erase(0, pipe.head);
        pipe.head = 0;
    }
    if (pipe.eof && pipe.size() == 0 && !pipe.shut) {
        pipe.shut = true;
        ::shutdown(fd, SHUT_WR);
    }
    return true;
}

void Relay::onClient(std::uint32_t ready)
{
    if (m_done)
        return;
    if ((ready & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !pull(m_client, m_up, true))
        return;
    if (!push(m_router, m_up) || !push(m_client, m_down))
        return;
    rearm();
}

void Relay::onRouter(std::uint32_t ready)
{
    if (m_done)
        return;
    if (m_connecting) {
        connectDone();
        return;
    }
    if ((ready & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !pull(m_router, m_down, false))
        return;
    if (!push(m_client, m_down) || !push(m_router, m_up))
        return;
    rearm();
}

// Level-triggered interest that follows the queues: read a side only while
// its queue has room, watch for writing only while there is something to write.
void Relay::rearm()
{
    // The router's close ends the session once its last bytes reached the
    // client; a client that closes first still hears the router out.
    if (m_down.shut) {
        finish(m_up.eof ? "the client closed the connection" : "the router closed the connection",
               false);
        return;
    }
    if (m_up.shut && m_down.eof) {
        finish("the client closed the connection", false);
        return;
    }
    const auto interest = [&](const Pipe &in, const Pipe &out) {
        std::uint32_t events = 0;
        if (!in.eof && in.size() < m_capacity)
            events |= EPOLLIN;
        if (out.size() > 0)
            events |= EPOLLOUT;
        return events;
    };
    follow(m_client, interest(m_up, m_down), m_up.eof, [this](std::uint32_t r) { onClient(r); });
    follow(m_router, interest(m_down, m_up), m_down.eof, [this](std::uint32_t r) { onRouter(r); });
}

void Relay::follow(int fd, std::uint32_t events, bool closed,
                   std::function<void(std::uint32_t)> callback)
{
    // A side that has closed and has nothing to receive would wake the
    // loop for ever with its hang-up, so it is not watched until it has.
    const bool watched = m_loop.watching(fd);
    if (events == 0 && closed) {
        if (watched)
            m_loop.unwatch(fd);
    } else if (watched) {
        m_loop.modify(fd, events);
    } else {
        m_loop.watch(fd, events, std::move(callback));
    }
}

void Relay::finish(const std::string &why, bool failure)
{
    if (m_done)
        return;
    m_done = true;
    if (m_connectTimer) {
        m_loop.cancel(m_connectTimer);
        m_connectTimer = 0;
    }
    for (int *fd : {&m_client, &m_router}) {
        if (*fd >= 0) {
            if (m_loop.watching(*fd))
                m_loop.unwatch(*fd);
            ::close(*fd);
            *fd = -1;
        }
    }
    if (m_events.ended)
        m_events.ended(why, failure);
}

} // namespace zentrel::record
