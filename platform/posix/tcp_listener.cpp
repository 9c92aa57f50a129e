// tcp_listener.cpp: binding, accepting, and riding out a shortage of descriptors.
#include "platform/posix/tcp_listener.h"

#include "platform/error.h"
#include "platform/posix/listening_socket.h"
#include "platform/posix/posix_loop.h"
#include "platform/posix/socket_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace zentrel::platform {

namespace {

constexpr double RetryAfter = 0.05;   // out of descriptors: accept again this much later
constexpr int AcceptsPerPass = 64;    // the rest waits a pass, so sessions keep their pace

} // namespace

TcpListener::TcpListener(PosixLoop &loop, const std::string &address, int port, Accepted accepted,
                         bool *inUse)
    : m_loop(loop), m_accepted(std::move(accepted)), m_alive(std::make_shared<bool>(true))
{
    m_report = [](const std::string &text) { std::fprintf(stderr, "zentrel: %s\n", text.c_str()); };
    const ListeningSocket bound = listenOn(address, port, "listen", inUse);
    if (bound.fd < 0)
        return;   // in use, and the caller asked to be told
    m_fd = bound.fd;
    m_port = bound.port;
    m_address = bound.address;
    updateWatch();
}

TcpListener::~TcpListener()
{
    *m_alive = false;
    close();
}

void TcpListener::pause()
{
    m_paused = true;
    updateWatch();
}

void TcpListener::resume()
{
    m_paused = false;
    updateWatch();
}

void TcpListener::close()
{
    if (m_retry)
        m_loop.cancel(std::exchange(m_retry, 0));
    if (m_fd < 0)
        return;
    if (m_watched)
        m_loop.unwatch(m_fd);
    m_watched = false;
    ::close(m_fd);
    m_fd = -1;
}

void TcpListener::updateWatch()
{
    const bool want = m_fd >= 0 && !m_paused && m_retry == 0;
    if (want == m_watched)
        return;
    if (want)
        m_loop.watch(m_fd, EPOLLIN, [this](std::uint32_t) { onReady(); });
    else
        m_loop.unwatch(m_fd);
    m_watched = want;
}

void TcpListener::onReady()
{
    const std::shared_ptr<bool> alive = m_alive;
    for (int i = 0; i < AcceptsPerPass && m_watched; ++i) {
        SocketAddress from;
        const int client = ::accept4(m_fd, from.buffer(), from.capacity(),
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            switch (errno) {
            case EAGAIN:
            case EINTR:
                return;
            case ECONNABORTED:   // the client left before we took it
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                backOff(errno);
                return;
            default:
                m_report("accept on " + m_address + ":" + std::to_string(m_port) + " failed: "
                         + std::strerror(errno));
                return;
            }
        }
        m_short = false;
        m_accepted(client, from.peer());
        if (!*alive)
            return;
    }
}

// Level-triggered, a listener that cannot accept would wake the loop on
// every pass: it stops watching and tries again shortly, while the waiting
// clients stay queued in the kernel until descriptors are free.
void TcpListener::backOff(int error)
{
    if (!m_short)
        m_report("out of descriptors on " + m_address + ":" + std::to_string(m_port) + " ("
                 + std::strerror(error) + "): waiting clients are accepted once some are free");
    m_short = true;
    m_retry = m_loop.at(m_loop.now() + RetryAfter, [this] {
        m_retry = 0;
        updateWatch();
    });
    updateWatch();
}

} // namespace zentrel::platform
