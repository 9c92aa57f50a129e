// qt_event_loop.h: the monotonic clock and the event-loop yield of the paced loops, on Qt.
#pragma once
#include "platform/event_loop.h"

#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace zentrel::platform {

// A yield sleeps in Qt's event loop until the next event or a timerfd set just
// before the deadline, then dispatches events without sleeping for the last
// quarter millisecond, so a pause ends within microseconds of its deadline and
// costs next to no CPU while it lasts. A handler running inside a yield may
// yield again: each nesting depth has its own timer.
class QtEventLoop : public EventLoop
{
public:
    QtEventLoop();
    ~QtEventLoop() override;
    QtEventLoop(const QtEventLoop &) = delete;
    QtEventLoop &operator=(const QtEventLoop &) = delete;

    double now() const override;
    void yieldUntil(double deadline) override;
    void post(std::function<void()> function) override;

private:
    struct Wakeup;
    Wakeup &wakeupAt(std::size_t depth);

    QObject m_context;   // receiver of posted functions and wake-ups
    std::vector<std::unique_ptr<Wakeup>> m_wakeups;
    std::size_t m_depth = 0;
};

} // namespace zentrel::platform
