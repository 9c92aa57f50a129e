// event_loop.h: the one event loop every session and pause runs on: clock, timers, posted work.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>

namespace zentrel::platform {

// CLOCK_MONOTONIC in seconds: what every loop's now() reads.
inline double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

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
    virtual TimerId at(double deadline, std::function<void()> function) = 0;
    // A timer that has run or was cancelled before is left alone.
    virtual void cancel(TimerId id) = 0;
    // Runs the function later from the event loop, after the current handler.
    virtual void post(std::function<void()> function) = 0;
};

} // namespace zentrel::platform
