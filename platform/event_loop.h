// event_loop.h: the one event loop every session and pause runs on: clock, timers, posted work.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace zentrel::platform {

class EventLoop
{
public:
    using TimerId = std::uint64_t;

    virtual ~EventLoop() = default;

    // Seconds on a monotonic clock: never jumps at midnight or when the
    // system time is set.
    virtual double now() const = 0;
    // Runs the function once from the event loop when the clock reaches the
    // deadline (a deadline already passed: on the next pass). Timers with
    // the same deadline run in the order they were set. Never 0.
    virtual TimerId at(double deadline, std::function<void()> function)
    {
        (void)deadline, (void)function;
        throw std::logic_error("timers are not available on this loop");
    }
    // A timer that has run or was cancelled before is left alone.
    virtual void cancel(TimerId id) { (void)id; }
    // Runs the function later from the event loop, after the current handler.
    virtual void post(std::function<void()> function) = 0;

    // Dispatches pending events and sleeps until the next one or the
    // deadline. Only the window's nested pauses still use it; sessions use at().
    virtual void yieldUntil(double deadline) { (void)deadline; }
};

} // namespace zentrel::platform
