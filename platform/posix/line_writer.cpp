// line_writer.cpp: non-blocking writes from a bounded queue, whole lines dropped and counted while the reader stalls.
#include "platform/posix/line_writer.h"

#include "platform/error.h"
#include "platform/posix/posix_loop.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zentrel::platform {

namespace {

constexpr std::size_t CompactAfter = 64 * 1024;   // written bytes kept at the queue's front at most

} // namespace

LineWriter::LineWriter(PosixLoop &loop, Setup setup) : m_loop(loop), m_setup(std::move(setup)), m_fd(m_setup.fd)
{
    struct stat info {};
    // A regular file takes every write at once; only a reader can stall.
    if (m_fd < 0 || (::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)))
        return;
    if (m_setup.shared) {
        // An open file of our own for the same pipe or terminal: making it
        // non-blocking changes nothing for the processes that share ours.
        const std::string again = "/proc/self/fd/" + std::to_string(m_fd);
        const int fd = ::open(again.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            m_fd = fd;
            m_ownFd = true;
            return;
        }
        m_restoreFlags = ::fcntl(m_fd, F_GETFL);
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
}

LineWriter::~LineWriter()
{
    watchWritable(false);
    if (m_ownFd)
        ::close(m_fd);
    if (m_restoreFlags >= 0)
        ::fcntl(m_fd, F_SETFL, m_restoreFlags);
}

void LineWriter::write(std::string_view line)
{
    if (m_failed || m_fd < 0)
        return;
    // Once dropping, every line is dropped until the queue has emptied, so
    // that the count goes exactly where the lines are missing.
    if (m_dropping > 0 || (queued() > 0 && queued() + line.size() > m_setup.maxQueued)) {
        if (m_dropping++ == 0 && m_setup.report)
            m_setup.report("the reader is not keeping up: lines are dropped until it has read what waits");
        ++m_droppedTotal;
        return;
    }
    m_queue.append(line);
    // At once: whoever acts on a line (a test reading the events once its
    // client has been answered) finds it written. While watching, the
    // reader has not made room yet: the loop says when it has.
    if (!m_watching)
        pump();
}

void LineWriter::pump()
{
    while (!m_failed) {
        while (queued() > 0) {
            // Whole lines, as many as PIPE_BUF bytes hold (a longer line
            // alone): a pipe takes a write of up to PIPE_BUF bytes whole or
            // not at all, so a reader never finds half of a line.
            std::size_t size = 0;
            for (std::size_t end = m_queue.find('\n', m_sent); end != std::string::npos;
                 end = m_queue.find('\n', end + 1)) {
                if (size > 0 && end + 1 - m_sent > PIPE_BUF)
                    break;
                size = end + 1 - m_sent;
            }
            if (size == 0)
                size = queued();
            const ssize_t wrote = ::write(m_fd, m_queue.data() + m_sent, size);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (m_sent >= CompactAfter) {
                    m_queue.erase(0, m_sent);
                    m_sent = 0;
                }
                watchWritable(true);
                return;
            }
            if (wrote < 0) {
                fail(errno);
                return;
            }
            m_sent += static_cast<std::size_t>(wrote);
        }
        m_queue.clear();
        m_sent = 0;
        if (m_dropping == 0)
            break;
        const std::uint64_t count = std::exchange(m_dropping, 0);
        if (m_setup.report)
            m_setup.report("the reader is back; " + std::to_string(count) + " line(s) were dropped");
        if (m_setup.droppedLine)
            m_queue = m_setup.droppedLine(count);
    }
    watchWritable(false);
}

void LineWriter::watchWritable(bool on)
{
    if (on == m_watching)
        return;
    if (!on) {
        m_loop.unwatch(m_fd);
        m_watching = false;
        return;
    }
    try {
        m_loop.watch(m_fd, EPOLLOUT, [this](std::uint32_t) { pump(); });
        m_watching = true;
    } catch (const Error &) {
        fail(EPERM);   // a descriptor epoll cannot watch, that would keep refusing
    }
}

void LineWriter::fail(int error)
{
    m_failed = true;
    watchWritable(false);
    m_queue.clear();
    m_sent = 0;
    if (m_setup.report)
        m_setup.report(std::string("cannot write: ") + std::strerror(error));
}

void LineWriter::finish(double seconds)
{
    const double deadline = m_loop.now() + seconds;
    for (;;) {
        pump();
        if (m_failed || (queued() == 0 && m_dropping == 0))
            break;
        const double left = deadline - m_loop.now();
        pollfd writable{m_fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&writable, 1, static_cast<int>(std::ceil(left * 1000))) == 0)
            break;
    }
    watchWritable(false);
    if (!m_failed && (queued() > 0 || m_dropping > 0) && m_setup.report)
        m_setup.report("the reader did not take the last " + std::to_string(queued()) + " bytes"
                       + (m_dropping > 0 ? " and " + std::to_string(m_dropping) + " dropped line(s)" : std::string())
                       + " before the exit");
}

} // namespace zentrel::platform
