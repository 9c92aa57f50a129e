// relay.h: one client and its connection to the router, bytes copied both ways unchanged.
#pragma once
#include "platform/posix/posix_loop.h"
#include "record/session_relay.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace zentrel::record {

// Each direction holds at most `capacity` bytes on their way: while the
// writing side's queue is full, the reading side is not read, so TCP's own
// flow control slows the sender down and nothing is dropped.
class Relay : public SessionRelay
{
public:
    using Events = SessionRelay::Events;

    static constexpr std::size_t DefaultCapacity = 64 * 1024;
    static constexpr double ConnectTimeout = 15;

    Relay(platform::PosixLoop &loop, int clientFd, Events events,
          std::size_t capacity = DefaultCapacity);
    ~Relay();
    Relay(const Relay &) = delete;
    Relay &operator=(const Relay &) = delete;

    // Connects to the router; the client is not read before it accepts.
    void start(const sockaddr_storage &router, socklen_t length);
    // Ends the session at once; what is still queued is dropped.
    void stop(const std::string &why) override;
    bool done() const override { return m_done; }
    // Bytes waiting in both directions, never more than twice the capacity.
    std::size_t queued() const { return m_up.size() + m_down.size(); }

private:
    struct Pipe {
        std::string bytes;
        std::size_t head = 0;
        bool eof = false;        // the reading side has closed
        bool shut = false;       // and the writing side was told so
        std::size_t size() const { return bytes.size() - head; }
    };

    void onClient(std::uint32_t ready);
    void onRouter(std::uint32_t ready);
    void connectDone();
    // Reads what fits; false when the session ended.
    bool pull(int fd, Pipe &pipe, bool fromClient);
    bool push(int fd, Pipe &pipe);
    void rearm();
    void follow(int fd, std::uint32_t events, bool closed, std::function<void(std::uint32_t)> callback);
    void finish(const std::string &why, bool failure);

    platform::PosixLoop &m_loop;
    Events m_events;
    std::size_t m_capacity;
    int m_client;
    int m_router = -1;
    bool m_connecting = false;
    bool m_done = false;
    platform::EventLoop::TimerId m_connectTimer = 0;
    Pipe m_up;     // client to router
    Pipe m_down;   // router to client
};

} // namespace zentrel::record
