// qt_event_loop.cpp: the monotonic clock and the event-loop yield of the paced loops, on Qt.
#include "platform/qt/qt_event_loop.h"

#include "platform/error.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
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
        itimerspec spec{};
        spec.it_value = toTimespec(deadline);
        timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr);
    }
    void disarm()
    {
        const itimerspec spec{};
        timerfd_settime(fd, 0, &spec, nullptr);
    }
};

QtEventLoop::QtEventLoop() = default;

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
    if (!(deadline > monotonicSeconds())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }

    Wakeup &wakeup = wakeupAt(m_depth);
    if (deadline < NoDeadline)
        wakeup.arm(deadline);
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
    // event, the timer's among them, and dispatches that.
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
