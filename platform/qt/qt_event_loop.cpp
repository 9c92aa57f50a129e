// qt_event_loop.cpp: the monotonic clock and the timers of the sessions, on Qt's event loop.
#include "platform/qt/qt_event_loop.h"

#include "platform/error.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

// Rounded up, so that the clock reads at least the time when the timer fires.
timespec toTimespec(double seconds)
{
    const double whole = std::floor(seconds);
    auto nanos = static_cast<long>(std::ceil((seconds - whole) * 1e9));
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(whole);
    if (nanos >= 1000000000L) {
        ++ts.tv_sec;
        nanos -= 1000000000L;
    }
    ts.tv_nsec = nanos;
    return ts;
}

// A sleeping thread wakes some tens of microseconds after its timer, more on
// a busy or virtual machine; the timer is set this much early and the rest
// is waited out on the clock, at most this much CPU per wake-up.
constexpr double EarlyWake = 0.25e-3;

// Nothing may reach Qt's event loop from a handler; what escapes is told.
template <typename Function>
void runContained(Function &function)
{
    try {
        function();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "zentrel: an event handler failed: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "zentrel: an event handler failed\n");
    }
}

} // namespace

QtEventLoop::QtEventLoop()
{
    // The kernel may otherwise let this thread's timers fire up to 50 µs
    // late to group wake-ups; a pause wants its deadline.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0)
        throw Error(SocketError, "Cannot create a timer: " + std::to_string(errno));
    m_notifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_context, [this] {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto taken = ::read(m_timerFd, &expirations, sizeof expirations);
        m_armedFor = -1;
        fire();
    });
}

QtEventLoop::~QtEventLoop()
{
    m_notifier.reset();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

double QtEventLoop::now() const
{
    return monotonicSeconds();
}

EventLoop::TimerId QtEventLoop::at(double deadline, std::function<void()> function)
{
    const TimerId id = m_timers.add(deadline, std::move(function));
    rearm();
    return id;
}

void QtEventLoop::cancel(TimerId id)
{
    m_timers.cancel(id);
    // A timerfd armed for a cancelled timer only wakes the loop once for nothing.
}

void QtEventLoop::rearm()
{
    if (m_firing || m_timers.empty())
        return;
    const double next = m_timers.next();
    if (m_armedFor >= 0 && m_armedFor <= next)
        return;
    m_armedFor = next;
    const double wake = next - EarlyWake;
    if (wake <= monotonicSeconds()) {
        // Due (or nearly): from the event loop, after the current handler.
        m_armedFor = -1;
        post([this] { fire(); });
        return;
    }
    itimerspec timer{};
    timer.it_value = toTimespec(wake);
    timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

void QtEventLoop::fire()
{
    m_firing = true;
    if (!m_timers.empty()) {
        const double next = m_timers.next();
        // The last stretch before the deadline, waited out on the clock.
        while (next - monotonicSeconds() > 0 && next - monotonicSeconds() <= EarlyWake) {
        }
        while (std::function<void()> function = m_timers.takeDue(monotonicSeconds()))
            runContained(function);
    }
    m_firing = false;
    rearm();
}

void QtEventLoop::post(std::function<void()> function)
{
    QMetaObject::invokeMethod(
        &m_context, [function = std::move(function)]() mutable { runContained(function); },
        Qt::QueuedConnection);
}

} // namespace zentrel::platform
