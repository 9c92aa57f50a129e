// fake_loop.h: an event loop whose clock moves only when the test lets it; no Qt, for every test program.
#pragma once
#include "platform/event_loop.h"
#include "platform/timer_queue.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <utility>

namespace zentrel::tests {

// run() takes posted work first, then jumps the clock to the next timer and
// runs it, until nothing is left to do. Timers set by the test and by the
// code under test interleave by their deadlines.
class FakeEventLoop : public platform::EventLoop
{
public:
    double now() const override { return m_now; }
    TimerId at(double deadline, std::function<void()> function) override
    {
        return m_timers.add(deadline, std::move(function));
    }
    void cancel(TimerId id) override { m_timers.cancel(id); }
    void post(std::function<void()> function) override { m_posted.push_back(std::move(function)); }

    // The event loop takes over until no work is left (or the clock would pass `until`).
    void run(double until = 1e300)
    {
        for (;;) {
            runPosted();
            if (m_timers.empty() || m_timers.next() > until)
                return;
            if (m_timers.next() > m_now) {
                m_now = m_timers.next();
                ++m_yields;
            }
            if (std::function<void()> function = m_timers.takeDue(m_now))
                function();
        }
    }
    // Time passes: everything due within `seconds` runs, each at its own
    // time, and the clock ends `seconds` later even when nothing was due.
    void advance(double seconds)
    {
        const double until = m_now + seconds;
        run(until);
        m_now = std::max(m_now, until);
    }
    // Only the posted work: a return to the event loop with no time passing.
    void runPosted()
    {
        while (!m_posted.empty()) {
            auto function = std::move(m_posted.front());
            m_posted.pop_front();
            function();
        }
    }
    void setNow(double now) { m_now = now; }
    // How often the clock moved on to a timer.
    int yields() const { return m_yields; }
    std::size_t pendingTimers() const { return m_timers.size(); }

private:
    double m_now = 1000.0;
    int m_yields = 0;
    std::deque<std::function<void()>> m_posted;
    platform::TimerQueue m_timers;
};

} // namespace zentrel::tests
