// tcp_connection.h: one accepted TCP client as a session's connection, on the POSIX loop.
#pragma once
#include "console/connection.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zentrel::platform {

class PosixLoop;

// Reads each chunk as it comes (at most 64 KiB a pass) and writes sends at
// once when the socket takes them, queueing the rest for the loop; what the
// data handler sends goes out in one write as it returns. A client
// that shuts only its sending side raises `ended` and still gets what is sent.
// `gone` comes when a write fails or the client resets; SIGPIPE never.
//
// close() is graceful: what is queued still goes out, then the sending side
// is shut and the descriptor closed once the client has closed too, within
// a bounded linger for a client that never reads. The connection may be
// destroyed right after close(): the draining goes on without it, counted in
// the loop's lingering(), which a program that is ending runs down (at most
// Linger seconds) so that its last clients get everything; the loop must
// outlive every connection made on it. Held input is not read: the client's
// bytes wait in the kernel.
class TcpConnection : public console::Connection
{
public:
    static constexpr double Linger = 10.0;   // seconds a closed connection may still drain

    // Takes ownership of an accepted, non-blocking descriptor.
    TcpConnection(PosixLoop &loop, int fd, std::string peer);
    ~TcpConnection() override;   // close() if not yet closed
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    void setEvents(Events events) override;
    void send(std::string_view bytes) override;
    std::size_t queued() const override;
    void holdInput(bool held) override;
    bool isGone() const override;
    void close() override;
    void reset() override;   // SO_LINGER 0 once the queue is out
    std::string peer() const override;

private:
    struct Socket;
    std::shared_ptr<Socket> m_socket;
};

} // namespace zentrel::platform
