// fake_loop.h: an event loop whose clock moves only when a test says so.
#pragma once
#include "platform/event_loop.h"
#include "platform/timer_queue.h"

#include <deque>
#include <functional>
#include <utility>

namespace zentrel::testing {

class FakeLoop : public platform::EventLoop
{
public:
    double now() const override { return m_now; }
    TimerId at(double deadline, std::function<void()> function) override
    {
        return m_timers.add(deadline, std::move(function));
    }
    void cancel(TimerId id) override { m_timers.cancel(id); }
    void post(std::function<void()> function) override { m_posted.push_back(std::move(function)); }

    // Moves the clock to `until`, running every timer and posted function
    // on the way, each at its own time.
    void advance(double seconds)
    {
        const double until = m_now + seconds;
        runPosted();
        while (!m_timers.empty() && m_timers.next() <= until) {
            m_now = std::max(m_now, m_timers.next());
            m_timers.runDue(m_now);
            runPosted();
        }
        m_now = until;
    }
    void runPosted()
    {
        while (!m_posted.empty()) {
            auto function = std::move(m_posted.front());
            m_posted.pop_front();
            function();
        }
    }

private:
    double m_now = 100.0;
    platform::TimerQueue m_timers;
    std::deque<std::function<void()>> m_posted;
};

} // namespace zentrel::testing
