// posix_loop_watch.cpp: the descriptors and signals a POSIX loop watches.
#include "platform/posix/posix_loop.h"

#include "platform/error.h"
#include "platform/posix/posix_loop_internal.h"

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace zentrel::platform {

using namespace posix_loop;

void PosixLoop::watch(int fd, std::uint32_t events, std::function<void(std::uint32_t)> callback)
{
    if (fd < 0)
        throw Error(SocketError, "watch: no descriptor");
    if (std::size_t(fd) >= m_watches.size())
        m_watches.resize(std::size_t(fd) + 1);
    const bool known = m_watches[fd] != nullptr;
    if (++m_generation == 0)
        ++m_generation;
    auto entry = std::make_shared<Watch>();
    entry->callback = std::move(callback);
    entry->generation = m_generation;
    entry->events = events;

    epoll_event event{};
    event.events = interest(events);
    event.data.u64 = tag(fd, entry->generation);
    // A number still watched may be a new descriptor: the old one was closed
    // before it was unwatched, and closing took it out of the epoll set.
    if (!(known && epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) == 0)
        && epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) < 0)
        fail("epoll_ctl");
    m_watches[fd] = std::move(entry);
}

void PosixLoop::modify(int fd, std::uint32_t events)
{
    if (!watching(fd))
        throw Error(SocketError, "modify: descriptor " + std::to_string(fd) + " is not watched");
    Watch &entry = *m_watches[fd];
    if (entry.events == events)
        return;
    epoll_event event{};
    event.events = interest(events);
    event.data.u64 = tag(fd, entry.generation);
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) < 0)
        fail("epoll_ctl");
    entry.events = events;
}

void PosixLoop::unwatch(int fd)
{
    if (!watching(fd))
        return;
    m_watches[fd].reset();   // a callback running now keeps its own reference
    // A descriptor already closed has left the epoll set by itself.
    if (epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr) < 0 && errno != EBADF && errno != ENOENT)
        std::fprintf(stderr, "zentrel: epoll_ctl(DEL, %d): %s\n", fd, std::strerror(errno));
}

bool PosixLoop::watching(int fd) const
{
    return fd >= 0 && std::size_t(fd) < m_watches.size() && m_watches[fd] != nullptr;
}

void PosixLoop::onSignal(int signo, std::function<void()> callback)
{
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signo);
    sigset_t before;
    if (pthread_sigmask(SIG_BLOCK, &one, &before) != 0)
        fail("pthread_sigmask");
    if (!sigismember(&before, signo))
        m_blocked.push_back(signo);
    m_signals[signo] = std::move(callback);

    sigset_t all;
    sigemptyset(&all);
    for (const auto &[number, function] : m_signals)
        sigaddset(&all, number);
    const bool first = m_signalFd < 0;
    const int fd = signalfd(m_signalFd, &all, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        fail("signalfd");
    m_signalFd = fd;
    if (first) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = tag(m_signalFd, 0);
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_signalFd, &event) < 0)
            fail("epoll_ctl");
    }
}

void PosixLoop::readSignals()
{
    signalfd_siginfo info[8];
    for (;;) {
        const ssize_t got = ::read(m_signalFd, info, sizeof info);
        if (got < 0) {
            if (errno != EAGAIN && errno != EINTR)
                std::fprintf(stderr, "zentrel: signalfd read: %s\n", std::strerror(errno));
            return;
        }
        for (std::size_t i = 0; i < std::size_t(got) / sizeof info[0]; ++i) {
            const auto found = m_signals.find(int(info[i].ssi_signo));
            if (found != m_signals.end() && found->second) {
                auto callback = found->second;   // the callback may replace itself
                runGuarded("signal handler", callback);
            }
        }
        if (std::size_t(got) < sizeof info)
            return;
    }
}

} // namespace zentrel::platform
