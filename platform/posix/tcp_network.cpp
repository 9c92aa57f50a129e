// tcp_network.cpp: listening on every interface, and the window's rule that a client that stops sending has left.
#include "platform/posix/tcp_network.h"

#include "platform/posix/posix_loop.h"
#include "platform/posix/tcp_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

namespace zentrel::platform {

namespace {

constexpr std::size_t UnsentKept = 64 * 1024;   // an idle buffer gives back what is above this

// A TcpConnection whose `ended` (the client shut its sending side) is `gone`:
// the session ends at its next item and the connection lamp goes green at
// once. What is sent in one pass of the loop goes to the kernel in one piece
// when the pass is over (or at once past HighWater, where the connection's
// own back-pressure takes over): a script played at a pause of 0 costs a
// write per pass, not per item.
class WindowClient : public console::Connection
{
public:
    WindowClient(PosixLoop &loop, int fd, std::string peer)
        : m_loop(loop), m_tcp(loop, fd, std::move(peer)), m_alive(std::make_shared<bool>(true))
    {
    }
    ~WindowClient() override
    {
        *m_alive = false;
        flush();   // then the TcpConnection closes gracefully with it queued
    }

    void setEvents(Events events) override
    {
        m_events = std::move(events);
        Events inner;
        inner.data = m_events.data;
        inner.drained = m_events.drained;
        inner.gone = [this] { left(); };
        inner.ended = [this] { left(); };
        m_tcp.setEvents(std::move(inner));
    }
    void send(std::string_view bytes) override
    {
        if (isGone() || bytes.empty())
            return;
        m_unsent.append(bytes);
        if (queued() > HighWater)
            flush();
        else if (!std::exchange(m_flushPosted, true))
            m_loop.post([this, alive = m_alive] {
                if (*alive)
                    flush();
            });
    }
    std::size_t queued() const override { return m_unsent.size() + m_tcp.queued(); }
    void holdInput(bool held) override { m_tcp.holdInput(held); }
    bool isGone() const override { return m_left || m_tcp.isGone(); }
    void close() override
    {
        flush();
        m_tcp.close();
    }
    void reset() override
    {
        flush();
        m_tcp.reset();
    }
    std::string peer() const override { return m_tcp.peer(); }

private:
    void flush()
    {
        m_flushPosted = false;
        if (m_unsent.empty())
            return;
        m_tcp.send(m_unsent);
        m_unsent.clear();
        if (m_unsent.capacity() > UnsentKept)
            m_unsent.shrink_to_fit();
    }

    // Once, whichever way the client went.
    void left()
    {
        m_unsent.clear();
        if (std::exchange(m_left, true) || !m_events.gone)
            return;
        const auto gone = m_events.gone;
        gone();
    }

    PosixLoop &m_loop;
    TcpConnection m_tcp;
    Events m_events;
    std::string m_unsent;        // sent in this pass, for the kernel when it is over
    bool m_flushPosted = false;
    bool m_left = false;
    std::shared_ptr<bool> m_alive;
};

// "::" takes IPv4 clients too; a system built without IPv6 has only 0.0.0.0.
bool hasIpv6()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno != EAFNOSUPPORT;
    ::close(fd);
    return true;
}

} // namespace

void TcpNetwork::listen(std::int32_t port)
{
    m_listener.reset();
    TcpListener::Accepted accepted = [this](int fd, std::string peer) {
        auto client = std::make_unique<WindowClient>(m_loop, fd, peer);
        if (m_accepted)
            m_accepted(std::move(client), std::move(peer));
    };
    m_listener = std::make_unique<TcpListener>(m_loop, hasIpv6() ? "::" : "0.0.0.0", port, accepted);
}

} // namespace zentrel::platform
