// qt_event_loop.cpp: the monotonic clock and the event-loop yield of the paced loops, on Qt.
#include "platform/qt/qt_event_loop.h"

#include "platform/error.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Rounded up, so that the clock reads at least the deadline when the timer fires.
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

// Far enough to mean "no deadline": the yield then waits for an event only.
constexpr double NoDeadline = 1e12;

// A sleeping thread wakes some tens of microseconds after its timer, more on a
// busy or virtual machine. The timer is set this much before the deadline and
// the rest of the pause dispatches events without sleeping, so the pause ends
// on its deadline rather than after it; each pause costs this much CPU at most.
constexpr double EarlyWake = 0.25e-3;

// Dispatches what is pending without sleeping; true when something was.
bool dispatchPending()
{
    if (QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher())
        return dispatcher->processEvents(QEventLoop::AllEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return false;
}

} // namespace

// One timerfd and its notifier: wakes the event loop at one depth's deadline.
struct QtEventLoop::Wakeup {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;

    explicit Wakeup(QObject *context)
    {
        fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd < 0)
            throw Error(SocketError, "Cannot create a timer: " + std::to_string(errno));
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        // Taking the expiry count clears the readiness: a timer that expired
        // while a deeper yield ran must not keep waking that yield.
        QObject::connect(notifier.get(), &QSocketNotifier::activated, context, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto taken = ::read(fd, &expirations, sizeof expirations);
        });
    }
    ~Wakeup()
    {
        notifier.reset();
        if (fd >= 0)
            ::close(fd);
    }
    void arm(double deadline)
    {
        itimerspec timer{};
        timer.it_value = toTimespec(deadline);
        timerfd_settime(fd, TFD_TIMER_ABSTIME, &timer, nullptr);
    }
    void disarm()
    {
        const itimerspec timer{};
        timerfd_settime(fd, 0, &timer, nullptr);
    }
};

QtEventLoop::QtEventLoop()
{
    // The kernel may otherwise let this thread's timers fire up to 50 µs
    // late to group wake-ups; a pause wants its deadline.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

QtEventLoop::~QtEventLoop() = default;

double QtEventLoop::now() const
{
    return monotonicSeconds();
}

QtEventLoop::Wakeup &QtEventLoop::wakeupAt(std::size_t depth)
{
    while (m_wakeups.size() <= depth)
        m_wakeups.push_back(std::make_unique<Wakeup>(&m_context));
    return *m_wakeups[depth];
}

void QtEventLoop::yieldUntil(double deadline)
{
    // A deadline already reached (or not a number): dispatch what is pending, never sleep.
    const double start = monotonicSeconds();
    if (!(deadline > start)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }

    // The last stretch: events are dispatched as they come, without sleeping,
    // until one was or the deadline is reached.
    if (deadline - start <= EarlyWake) {
        while (!dispatchPending() && monotonicSeconds() < deadline) {
        }
        return;
    }

    Wakeup &wakeup = wakeupAt(m_depth);
    if (deadline < NoDeadline)
        wakeup.arm(deadline - EarlyWake);
    ++m_depth;
    struct Unwind {
        QtEventLoop &loop;
        Wakeup &wakeup;
        ~Unwind()
        {
            wakeup.disarm();
            --loop.m_depth;
        }
    } unwind{*this, wakeup};

    // Dispatches what is pending; when nothing is, sleeps until the next
    // event, the timer's among them (which comes just before the deadline),
    // and dispatches that.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventLoop::post(std::function<void()> function)
{
    QMetaObject::invokeMethod(
        &m_context,
        [function = std::move(function)] {
            try {
                function();
            } catch (...) {
                // A posted handler contains its own failures; nothing may
                // reach Qt's event loop.
            }
        },
        Qt::QueuedConnection);
}

} // namespace zentrel::platform
