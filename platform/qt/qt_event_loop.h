// qt_event_loop.h: the monotonic clock and the timers of the sessions, on Qt's event loop.
#pragma once
#include "platform/event_loop.h"
#include "platform/timer_queue.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace zentrel::platform {

// One timerfd, watched by Qt's event loop, is armed a quarter millisecond
// before the earliest timer; when it fires, the rest of the wait is spent
// looking at the clock, so a pause ends within microseconds of its deadline
// and costs next to no CPU while it lasts.
class QtEventLoop : public EventLoop
{
public:
    QtEventLoop();
    ~QtEventLoop() override;
    QtEventLoop(const QtEventLoop &) = delete;
    QtEventLoop &operator=(const QtEventLoop &) = delete;

    double now() const override;
    TimerId at(double deadline, std::function<void()> function) override;
    void cancel(TimerId id) override;
    void post(std::function<void()> function) override;

private:
    void fire();
    void rearm();

    QObject m_context;   // receiver of posted functions and wake-ups
    TimerQueue m_timers;
    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    double m_armedFor = -1;   // the deadline the timerfd is set for, -1 when disarmed
    bool m_firing = false;
};

} // namespace zentrel::platform
