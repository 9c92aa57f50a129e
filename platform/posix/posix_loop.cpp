// posix_loop.cpp: the passes of the epoll event loop: waiting, timers, posted work.
#include "platform/posix/posix_loop.h"

#include "platform/error.h"
#include "platform/posix/posix_loop_internal.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace zentrel::platform {

using namespace posix_loop;

namespace {

constexpr double Margin = 0.00025;      // the timerfd fires this early; the rest is polled
constexpr double SpinRate = 0.02;       // polling may take 2% of the time...
constexpr double SpinCap = 0.005;       // ...saved up to this much
constexpr int MaxEvents = 256;
constexpr double Forever = std::numeric_limits<double>::infinity();

timespec toTimespec(double seconds)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) {
        ++ts.tv_sec;
        ts.tv_nsec -= 1000000000L;
    }
    if (ts.tv_nsec < 0)
        ts.tv_nsec = 0;
    return ts;
}

} // namespace

PosixLoop::PosixLoop()
{
    // Sleeps end when asked, not up to 50 µs later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        fail("epoll_create1");
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_timerFd < 0 || m_eventFd < 0) {
        const int saved = errno;
        release();
        errno = saved;
        fail("timerfd/eventfd");
    }
    for (int own : {m_timerFd, m_eventFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = tag(own, 0);
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, own, &event) < 0) {
            const int saved = errno;
            release();
            errno = saved;
            fail("epoll_ctl");
        }
    }
    m_budgetAt = now();
    m_spinBudget = SpinCap;
}

PosixLoop::~PosixLoop()
{
    m_lingering.clear();
    release();
}

PosixLoop::LingerId PosixLoop::linger(std::function<void()> letGo)
{
    m_lingering.emplace(++m_lastLinger, std::move(letGo));
    return m_lastLinger;
}

void PosixLoop::doneLingering(LingerId id)
{
    m_lingering.erase(id);
}

void PosixLoop::letGoLingering()
{
    // Each letGo ends its own lingering on the way.
    for (auto &[id, letGo] : std::exchange(m_lingering, {}))
        letGo();
}

void PosixLoop::release()
{
    for (int own : {m_signalFd, m_eventFd, m_timerFd, m_epoll})
        if (own >= 0)
            ::close(own);
    m_signalFd = m_eventFd = m_timerFd = m_epoll = -1;
    if (!m_blocked.empty()) {
        sigset_t set;
        sigemptyset(&set);
        for (int signo : m_blocked)
            sigaddset(&set, signo);
        m_blocked.clear();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

double PosixLoop::now() const
{
    return monotonicSeconds();
}

EventLoop::TimerId PosixLoop::at(double deadline, std::function<void()> function)
{
    const TimerId id = m_timers.add(deadline, std::move(function));
    // A pass arms the timerfd as it ends; a timer set between passes (from
    // the window's own loop) arms it now, so that fd() wakes for it.
    if (!m_inPass)
        armTimer(now());
    return id;
}

void PosixLoop::cancel(TimerId id)
{
    m_timers.cancel(id);
}

void PosixLoop::post(std::function<void()> function)
{
    std::lock_guard lock(m_postMutex);
    m_posted.push_back(std::move(function));
    if (m_dispatching == std::this_thread::get_id())
        return;
    if (!m_wakeWritten) {
        const std::uint64_t one = 1;
        if (::write(m_eventFd, &one, sizeof one) == sizeof one)
            m_wakeWritten = true;
        else
            std::fprintf(stderr, "zentrel: event loop wake-up failed: %s\n", std::strerror(errno));
    }
}

void PosixLoop::yieldUntil(double deadline)
{
    for (double t = now(); t < deadline; t = now())
        runOnce(deadline - t);
}

void PosixLoop::run()
{
    while (!m_quit)
        runOnce(-1);
    m_quit = false;
}

void PosixLoop::quit()
{
    m_quit = true;
}

void PosixLoop::armTimer(double t, bool polling)
{
    if (m_timers.empty())
        return;   // a stale expiry only costs one empty pass
    const double next = m_timers.next();
    const bool early = next - t > Margin && m_spinBudget > 0;
    // While the pass polls the last stretch itself, the timerfd stays quiet:
    // expiring at the deadline, it would interrupt the polling thread right
    // then, for tens of microseconds on a virtual machine.
    if (polling && !early && next - t <= Margin && m_spinBudget > 0) {
        if (m_armedFor > t) {
            const itimerspec off{};
            if (timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &off, nullptr) < 0)
                std::fprintf(stderr, "zentrel: timerfd_settime: %s\n", std::strerror(errno));
            m_armedFor = -1;
        }
        return;
    }
    const double target = early ? next - Margin : next;
    if (target == m_armedFor)
        return;
    itimerspec expiry{};
    expiry.it_value = toTimespec(target);
    if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0)
        expiry.it_value.tv_nsec = 1;   // zero would disarm it
    if (timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &expiry, nullptr) < 0) {
        std::fprintf(stderr, "zentrel: timerfd_settime: %s\n", std::strerror(errno));
        return;
    }
    m_armedFor = target;
}

int PosixLoop::waitMs(double t, double limit)
{
    if (hasPosted())
        return 0;
    if (!m_timers.empty()) {
        const double next = m_timers.next();
        if (next <= t || (next - t <= Margin && m_spinBudget > 0))
            return 0;
    }
    if (limit == Forever)
        return -1;   // the timerfd ends the wait when a timer is set
    const double ms = std::ceil((limit - t) * 1000.0);
    return ms <= 0 ? 0 : ms >= 1e9 ? 1000000000 : int(ms);
}

bool PosixLoop::hasPosted()
{
    std::lock_guard lock(m_postMutex);
    return !m_posted.empty();
}

void PosixLoop::clearTimerFd()
{
    std::uint64_t expirations;
    if (::read(m_timerFd, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
        std::fprintf(stderr, "zentrel: timerfd read: %s\n", std::strerror(errno));
    m_armedFor = -1;
}

void PosixLoop::runPosted()
{
    // Made only when something was posted: an empty deque costs two allocations.
    std::optional<std::deque<std::function<void()>>> batch;
    {
        std::lock_guard lock(m_postMutex);
        m_dispatching = {};
        if (m_posted.empty())
            return;
        if (m_wakeWritten) {
            std::uint64_t count;
            if (::read(m_eventFd, &count, sizeof count) < 0 && errno != EAGAIN)
                std::fprintf(stderr, "zentrel: eventfd read: %s\n", std::strerror(errno));
            m_wakeWritten = false;
        }
        batch.emplace().swap(m_posted);
    }
    // What these post runs on the next pass, so a function that posts
    // itself cannot starve descriptors and timers.
    for (auto &function : *batch)
        runGuarded("posted function", function);
}

void PosixLoop::runOnce(double maxWait)
{
    m_inPass = true;
    const double start = now();
    const double limit = maxWait < 0 ? Forever : start + maxWait;
    epoll_event events[MaxEvents];
    int ready = 0;
    for (double t = start;;) {
        m_spinBudget = std::min(SpinCap, m_spinBudget + (t - m_budgetAt) * SpinRate);
        m_budgetAt = t;
        armTimer(t, true);
        const int ms = waitMs(t, limit);
        ready = epoll_wait(m_epoll, events, MaxEvents, ms);
        if (ready < 0) {
            if (errno != EINTR)
                std::fprintf(stderr, "zentrel: epoll_wait: %s\n", std::strerror(errno));
            ready = 0;
        }
        // The timerfd only ends a sleep; on its own it is nothing to do.
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.u64 == tag(m_timerFd, 0)) {
                clearTimerFd();
                events[i--] = events[--ready];
            }
        }
        const double after = now();
        if (ms == 0 && !m_timers.empty() && m_timers.next() > after)
            m_spinBudget -= after - t;
        if (ready > 0 || after >= limit || hasPosted()
            || (!m_timers.empty() && m_timers.next() <= after))
            break;
        t = after;
    }
    {
        std::lock_guard lock(m_postMutex);
        m_dispatching = std::this_thread::get_id();
    }

    for (int i = 0; i < ready; ++i) {
        const std::uint64_t data = events[i].data.u64;
        const int fd = int(std::uint32_t(data));
        const std::uint32_t generation = std::uint32_t(data >> 32);
        if (generation == 0) {
            if (fd == m_signalFd)
                readSignals();
            continue;   // the eventfd is read with the posted functions
        }
        if (std::size_t(fd) >= m_watches.size() || !m_watches[fd]
            || m_watches[fd]->generation != generation)
            continue;   // unwatched (and perhaps reused) earlier in this pass
        const std::shared_ptr<Watch> entry = m_watches[fd];
        runGuarded("descriptor callback", [&] { entry->callback(events[i].events); });
    }

    const double t = now();
    while (std::function<void()> function = m_timers.takeDue(t))
        runGuarded("timer", function);

    runPosted();
    // Set for what this pass added, so that a loop watching fd() wakes for it.
    armTimer(now());
    m_inPass = false;
}

} // namespace zentrel::platform
