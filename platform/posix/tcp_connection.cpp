// tcp_connection.cpp: reading, queued writing, half-close, and the graceful close of one client.
#include "platform/posix/tcp_connection.h"

#include "platform/error.h"
#include "platform/posix/posix_loop.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace zentrel::platform {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::size_t KeptCapacity = 64 * 1024;   // an idle queue gives back what is above this

void report(const std::string &peer, const char *what)
{
    std::fprintf(stderr, "zentrel: %s: %s: %s\n", peer.c_str(), what, std::strerror(errno));
}

// One buffer for every connection's reads: the loop reads one socket at a time.
char *readBuffer()
{
    static char buffer[ChunkSize];
    return buffer;
}

} // namespace

// What the loop holds on to: the descriptor, its queue and its state. It
// outlives the TcpConnection while a closed connection still drains.
struct TcpConnection::Socket : std::enable_shared_from_this<Socket> {
    Socket(PosixLoop &loop, int fd, std::string peer) : loop(loop), fd(fd), peer(std::move(peer)) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);   // only when the loop itself went first
        if (lingering)
            loop.doneLingering(lingering);
    }

    PosixLoop &loop;
    int fd;
    std::string peer;
    Events events;
    std::string out;
    std::size_t sent = 0;   // out[sent...] is still to go
    std::uint32_t interest = 0;
    bool watched = false;
    bool reading = true;    // until the client shuts its sending side
    bool held = false;      // the session holds the client's input
    bool gone = false;
    bool closed = false;
    bool shut = false;      // our sending side shut, after close()
    bool resetting = false; // close with a reset once the queue is out
    bool aboveHigh = false;
    bool gathering = false; // inside the data handler: sends wait for its end
    PosixLoop::LingerId lingering = 0;
    EventLoop::TimerId linger = 0;

    std::size_t queued() const { return out.size() - sent; }

    void start()
    {
        loop.watch(fd, EPOLLIN, [self = shared_from_this()](std::uint32_t ready) {
            self->onReady(ready);
        });
        watched = true;
        interest = EPOLLIN;
    }

    void updateInterest()
    {
        if (!watched)
            return;
        // A closed connection drops what its client still sends, held or not.
        std::uint32_t wanted = reading && (!held || closed) ? std::uint32_t(EPOLLIN) : 0;
        if (queued() > 0)
            wanted |= EPOLLOUT;
        if (wanted == interest)
            return;
        try {
            loop.modify(fd, wanted);
            interest = wanted;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "zentrel: %s: %s\n", peer.c_str(), error.what());
            failLater();
        }
    }

    void unwatch()
    {
        if (watched)
            loop.unwatch(fd);   // the callback running now, if any, keeps this alive
        watched = false;
    }

    void onReady(std::uint32_t ready)
    {
        const bool trouble = ready & (EPOLLERR | EPOLLHUP);
        if (reading && (ready & (EPOLLIN | EPOLLRDHUP) || trouble)) {
            // After a reset there is nothing left to read but the error; a
            // hang-up may still leave the last chunks to take.
            while (readChunk() && trouble && reading && !(held && !closed) && !gone && fd >= 0) {
            }
        }
        if (gone || fd < 0)
            return;
        if (ready & EPOLLOUT)
            flush();
        if (gone || fd < 0)
            return;
        if (trouble)
            closed ? finish() : fail();
    }

    // True when a chunk came, so there may be more.
    bool readChunk()
    {
        const ssize_t got = ::recv(fd, readBuffer(), ChunkSize, 0);
        if (got > 0) {
            if (!closed && events.data) {
                const auto data = events.data;   // the handler may replace the events
                // What the handler sends (an echo, an answer due at once, a
                // prompt) leaves in one segment, after it has returned.
                gathering = true;
                data(std::string_view(readBuffer(), std::size_t(got)));
                gathering = false;
                if (queued() > 0 && !gone && fd >= 0)
                    flush();
            }
            return true;
        }
        if (got == 0) {
            reading = false;
            if (closed) {
                if (shut)
                    finish();
                else
                    updateInterest();
                return false;
            }
            updateInterest();
            if (events.ended) {
                const auto ended = events.ended;
                ended();
            }
        } else if (errno != EAGAIN && errno != EINTR) {
            closed ? finish() : fail();
        }
        return false;
    }

    void send(std::string_view bytes)
    {
        if (gone || closed || bytes.empty())
            return;
        if (gathering) {
            out.append(bytes);
            aboveHigh = aboveHigh || queued() > HighWater;
            return;
        }
        if (queued() == 0) {
            out.clear();
            sent = 0;
            const ssize_t wrote = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
                failLater();
                return;
            }
            if (wrote > 0)
                bytes.remove_prefix(std::size_t(wrote));
            if (bytes.empty())
                return;
        }
        out.append(bytes);
        if (queued() > HighWater)
            aboveHigh = true;
        updateInterest();
    }

    void flush()
    {
        while (queued() > 0) {
            const ssize_t wrote = ::send(fd, out.data() + sent, queued(), MSG_NOSIGNAL);
            if (wrote < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    break;
                closed ? finish() : fail();
                return;
            }
            sent += std::size_t(wrote);
        }
        if (queued() == 0) {
            out.clear();
            sent = 0;
            if (out.capacity() > KeptCapacity)
                out.shrink_to_fit();
        } else if (sent > out.size() / 2) {
            out.erase(0, sent);
            sent = 0;
        }
        updateInterest();
        if (closed) {
            if (queued() == 0 && resetting)
                abort();
            else if (queued() == 0 && !shut)
                shutWrite();
            return;
        }
        if (aboveHigh && queued() <= LowWater) {
            aboveHigh = false;
            if (events.drained) {
                const auto drained = events.drained;
                drained();
            }
        }
    }

    void fail()
    {
        gone = true;
        unwatch();
        out.clear();
        sent = 0;
        if (!closed && events.gone) {
            const auto goneEvent = events.gone;
            goneEvent();
        }
    }

    // A send found the client gone: the event still comes from the loop.
    void failLater()
    {
        gone = true;
        unwatch();
        out.clear();
        sent = 0;
        loop.post([weak = weak_from_this()] {
            const auto self = weak.lock();
            if (self && !self->closed && self->events.gone) {
                const auto goneEvent = self->events.gone;
                goneEvent();
            }
        });
    }

    void close()
    {
        if (closed)
            return;
        closed = true;
        events = {};
        if (gone || fd < 0) {
            finish();
            return;
        }
        lingering = loop.linger([weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->finish();
        });
        linger = loop.at(loop.now() + Linger, [self = shared_from_this()] {
            self->linger = 0;
            self->finish();
        });
        if (queued() == 0)
            resetting ? abort() : shutWrite();
    }

    void reset()
    {
        if (closed)
            return;
        resetting = true;
        close();
    }

    // An RST instead of a FIN: closing with a zero linger drops the
    // connection at once.
    void abort()
    {
        const struct linger now {1, 0};
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now) < 0)
            report(peer, "SO_LINGER");
        finish();
    }

    // Then wait for the client's own close, reading and dropping what it still
    // sends: closing a socket with unread input would reset the connection
    // and could cost the client the end of what we sent.
    void shutWrite()
    {
        shut = true;
        if (::shutdown(fd, SHUT_WR) < 0 && errno != ENOTCONN)
            report(peer, "shutdown");
        if (!reading)
            finish();
        else
            updateInterest();
    }

    void finish()
    {
        if (linger)
            loop.cancel(std::exchange(linger, 0));
        unwatch();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (lingering)
            loop.doneLingering(std::exchange(lingering, 0));
    }
};

TcpConnection::TcpConnection(PosixLoop &loop, int fd, std::string peer)
    : m_socket(std::make_shared<Socket>(loop, fd, std::move(peer)))
{
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) < 0)
        report(m_socket->peer, "TCP_NODELAY");
    m_socket->start();
}

TcpConnection::~TcpConnection()
{
    m_socket->close();
}

void TcpConnection::setEvents(Events events)
{
    if (!m_socket->closed)
        m_socket->events = std::move(events);
}

void TcpConnection::send(std::string_view bytes)
{
    m_socket->send(bytes);
}

std::size_t TcpConnection::queued() const
{
    return m_socket->queued();
}

bool TcpConnection::isGone() const
{
    return m_socket->gone;
}

void TcpConnection::close()
{
    m_socket->close();
}

void TcpConnection::reset()
{
    m_socket->reset();
}

std::string TcpConnection::peer() const
{
    return m_socket->peer;
}

void TcpConnection::holdInput(bool held)
{
    m_socket->held = held;
    m_socket->updateInterest();
}

} // namespace zentrel::platform
