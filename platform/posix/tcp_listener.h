// tcp_listener.h: a listening TCP socket on the POSIX loop that hands over each accepted client.
#pragma once
#include "platform/event_loop.h"

#include <functional>
#include <memory>
#include <string>

namespace zentrel::platform {

class PosixLoop;

class TcpListener
{
public:
    // The accepted descriptor (non-blocking, close-on-exec; the callee owns
    // it) and the client's "address:port" ("[v6]:port" for IPv6).
    using Accepted = std::function<void(int fd, std::string peer)>;

    // Binds and listens at once: `address` is an IPv4 or IPv6 literal
    // ("[::1]" also works), port 0 takes a free port. Throws platform::Error
    // InvalidPropertyValue (380) naming the address, port and reason when the
    // port cannot be taken; with `inUse`, a port in use sets it instead and
    // leaves the listener closed. Taking ports one after the other that way
    // costs a lookup each, where port 0 costs a search of the system's range
    // that grows as it fills.
    TcpListener(PosixLoop &loop, const std::string &address, int port, Accepted accepted,
                bool *inUse = nullptr);
    ~TcpListener();   // close()
    TcpListener(const TcpListener &) = delete;
    TcpListener &operator=(const TcpListener &) = delete;

    int port() const { return m_port; }                  // the bound port, also after port 0
    const std::string &address() const { return m_address; }

    // Paused, clients wait in the kernel's backlog; none is refused.
    void pause();
    void resume();
    // Stops listening for good; the port is free again once this returns.
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // Where transient trouble (out of descriptors, a failed accept) is told;
    // stderr unless set. Out of descriptors, accepting stops for a moment and
    // starts again by itself, and it is told once per episode.
    void setReport(std::function<void(const std::string &)> report) { m_report = std::move(report); }

private:
    void onReady();
    void backOff(int error);
    void updateWatch();

    PosixLoop &m_loop;
    Accepted m_accepted;
    std::function<void(const std::string &)> m_report;
    std::string m_address;
    int m_port = 0;
    int m_fd = -1;
    bool m_paused = false;
    bool m_watched = false;
    bool m_short = false;             // out of descriptors, already told
    EventLoop::TimerId m_retry = 0;   // set while out of descriptors
    std::shared_ptr<bool> m_alive;    // an accepted callback may destroy the listener
};

} // namespace zentrel::platform
