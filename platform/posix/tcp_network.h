// tcp_network.h: the window's listening port on the POSIX loop, with the engine's TCP listener and connections.
#pragma once
#include "platform/network.h"
#include "platform/posix/tcp_listener.h"

#include <memory>

namespace zentrel::platform {

class PosixLoop;

// Listens on IPv6 and IPv4 alike ("::"), or on IPv4 alone where the system
// has no IPv6. Each client becomes a TcpConnection whose end of input counts
// as the client gone: a window client that stops sending has left.
class TcpNetwork : public Network
{
public:
    explicit TcpNetwork(PosixLoop &loop) : m_loop(loop) {}

    void setAccepted(Accepted accepted) override { m_accepted = std::move(accepted); }
    void listen(std::int32_t port) override;
    void close() override { m_listener.reset(); }

    // The bound port (the one the system chose for port 0), 0 when not listening.
    int port() const { return m_listener ? m_listener->port() : 0; }

private:
    PosixLoop &m_loop;
    Accepted m_accepted;
    std::unique_ptr<TcpListener> m_listener;
};

} // namespace zentrel::platform
