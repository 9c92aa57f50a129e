// qt_socket_closer.cpp: the graceful end of connections that Zentrel closed itself.
#include "platform/qt/qt_socket_closer.h"

#include "platform/event_loop.h"

#include <QSocketNotifier>

#include <cerrno>
#include <ctime>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace zentrel::platform {

namespace {

// A connection whose client stops taking bytes is cut after this long without progress.
constexpr double NoProgressLimit = 60.0;
// A client that has every byte but does not close its side is left this long to do so.
constexpr double LingerLimit = 2.0;
constexpr int SweepIntervalMs = 1000;

// Bytes this side has sent that the client has not acknowledged yet.
long unacknowledged(int fd)
{
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

// Takes whatever the client sent and nobody read: closing over unread bytes
// makes the kernel reset the connection, and the reset throws away what is
// still on its way to the client.
void discardIncoming(int fd)
{
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

QtSocketCloser::QtSocketCloser()
{
    m_sweep.setInterval(SweepIntervalMs);
    QObject::connect(&m_sweep, &QTimer::timeout, &m_context, [this] { sweep(); });
}

QtSocketCloser::~QtSocketCloser()
{
    for (auto &[fd, closing] : m_closing) {
        closing.readable.reset();
        closing.writable.reset();
        ::close(fd);
    }
}

void QtSocketCloser::close(int fd, std::unique_ptr<QSocketNotifier> readable, std::string unsent,
                           bool peerDone)
{
    if (readable)
        QObject::disconnect(readable.get(), nullptr, nullptr, nullptr);
    if (peerDone)
        readable.reset();   // nothing more will come; the end would only keep it firing
    Closing &closing = m_closing[fd];
    closing.readable = std::move(readable);
    closing.unsent = std::move(unsent);
    closing.peerDone = peerDone;
    closing.lastProgress = monotonicSeconds();
    // The bytes and the end of the stream first: the client waits for them.
    push(fd);
    const auto found = m_closing.find(fd);
    if (found == m_closing.end())
        return;
    Closing &still = found->second;
    if (still.readable)
        QObject::connect(still.readable.get(), &QSocketNotifier::activated, &m_context,
                         [this, fd] { drain(fd); });
    else if (!still.peerDone && m_lookFirst)
        m_unwatched.push_back(fd);
    else if (!still.peerDone)
        watch(fd);
    if (!m_sweep.isActive())
        m_sweep.start();
}

void QtSocketCloser::watch(int fd)
{
    const auto found = m_closing.find(fd);
    if (found == m_closing.end() || found->second.readable || found->second.peerDone)
        return;
    found->second.readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(found->second.readable.get(), &QSocketNotifier::activated, &m_context,
                     [this, fd] { drain(fd); });
}

void QtSocketCloser::beforeLook()
{
    if (m_unwatched.empty())
        return;
    const auto unwatched = std::exchange(m_unwatched, {});
    for (const int fd : unwatched)
        if (drain(fd))
            watch(fd);
}

// Hands the kernel what it takes; once everything is out, shuts the sending
// side, or closes outright when the client has closed its side already.
void QtSocketCloser::push(int fd)
{
    const auto found = m_closing.find(fd);
    if (found == m_closing.end())
        return;
    Closing &closing = found->second;
    while (closing.sent < closing.unsent.size()) {
        const ssize_t sent = ::send(fd, closing.unsent.data() + closing.sent,
                                    closing.unsent.size() - closing.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            closing.sent += std::size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!closing.writable) {
                closing.writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
                QObject::connect(closing.writable.get(), &QSocketNotifier::activated, &m_context,
                                 [this, fd] { push(fd); });
            }
            return;
        }
        finish(fd, true);   // the client reset the connection: nothing more can reach it
        return;
    }
    closing.unsent = std::string();
    closing.sent = 0;
    closing.writable.reset();
    if (closing.peerDone) {
        finish(fd, false);
        return;
    }
    if (closing.shutDownAt == 0) {
        closing.shutDownAt = monotonicSeconds();
        ::shutdown(fd, SHUT_WR);
    }
}

// The client sent something, or closed: what it sent is dropped. True while
// the connection is still ending.
bool QtSocketCloser::drain(int fd)
{
    const auto found = m_closing.find(fd);
    if (found == m_closing.end())
        return false;
    char sink[16384];
    for (;;) {
        const ssize_t got = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        break;   // closed or reset by the client
    }
    Closing &closing = found->second;
    if (closing.sent < closing.unsent.size()) {
        // Closed, not reset: what is still queued goes out before the end.
        closing.peerDone = true;
        closing.readable.reset();
        return true;
    }
    finish(fd, false);
    return false;
}

void QtSocketCloser::finish(int fd, bool cut)
{
    const auto found = m_closing.find(fd);
    if (found == m_closing.end())
        return;
    found->second.readable.reset();
    found->second.writable.reset();
    m_closing.erase(found);
    if (cut)
        discardIncoming(fd);
    ::close(fd);
}

// Once a second while connections are ending: cut those whose client takes
// nothing any more, close those whose client has everything but stays.
void QtSocketCloser::sweep()
{
    const double now = monotonicSeconds();
    std::vector<int> done;
    for (auto &[fd, closing] : m_closing) {
        const bool shutDown = closing.shutDownAt > 0;
        const long pending = shutDown ? unacknowledged(fd) : long(closing.unsent.size() - closing.sent);
        if (pending != closing.lastPending) {
            closing.lastPending = pending;
            closing.lastProgress = now;
        }
        const bool delivered = shutDown && pending == 0 && now - closing.shutDownAt >= LingerLimit;
        if (delivered || now - closing.lastProgress > NoProgressLimit)
            done.push_back(fd);
    }
    for (const int fd : done)
        finish(fd, true);
    if (m_closing.empty())
        m_sweep.stop();
}

} // namespace zentrel::platform
