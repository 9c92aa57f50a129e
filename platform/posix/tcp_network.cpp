// tcp_network.cpp: listening on every interface, and the window's rule that a client that stops sending has left.
#include "platform/posix/tcp_network.h"

#include "platform/error.h"
#include "platform/posix/tcp_connection.h"

#include <utility>

namespace zentrel::platform {

namespace {

// A TcpConnection whose `ended` (the client shut its sending side) is `gone`:
// the session ends at its next item and the connection lamp goes green at once.
class WindowClient : public console::Connection
{
public:
    WindowClient(PosixLoop &loop, int fd, std::string peer) : m_tcp(loop, fd, std::move(peer)) {}

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
    void send(std::string_view bytes) override { m_tcp.send(bytes); }
    std::size_t queued() const override { return m_tcp.queued(); }
    void holdInput(bool held) override { m_tcp.holdInput(held); }
    bool isGone() const override { return m_left || m_tcp.isGone(); }
    void close() override { m_tcp.close(); }
    std::string peer() const override { return m_tcp.peer(); }

private:
    // Once, whichever way the client went.
    void left()
    {
        if (std::exchange(m_left, true) || !m_events.gone)
            return;
        const auto gone = m_events.gone;   // the handler may replace the events
        gone();
    }

    TcpConnection m_tcp;
    Events m_events;
    bool m_left = false;
};

} // namespace

void TcpNetwork::listen(std::int32_t port)
{
    m_listener.reset();
    TcpListener::Accepted accepted = [this](int fd, std::string peer) {
        auto client = std::make_unique<WindowClient>(m_loop, fd, peer);
        if (m_accepted)
            m_accepted(std::move(client), std::move(peer));
    };
    try {
        m_listener = std::make_unique<TcpListener>(m_loop, "::", port, accepted);
    } catch (const Error &noIpv6) {
        // A system without IPv6 refuses "::" whatever the port; one with it
        // refuses 0.0.0.0 too when the port cannot be taken.
        try {
            m_listener = std::make_unique<TcpListener>(m_loop, "0.0.0.0", port, accepted);
        } catch (const Error &) {
            throw noIpv6;
        }
    }
}

} // namespace zentrel::platform
