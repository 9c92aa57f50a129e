// event_loop.h: the event-loop yield and the clock of the paced loops.
#pragma once
#include <functional>

namespace zentrel::platform {

class EventLoop
{
public:
    virtual ~EventLoop() = default;

    // Seconds on a monotonic clock: never jumps at midnight or when the
    // system time is set.
    virtual double now() const = 0;
    // Dispatches every pending event, then sleeps until the next event
    // arrives or the clock reaches the deadline, whichever comes first.
    // Handlers of other events run inside this call. It may also return a
    // little before the deadline with nothing dispatched, so a caller that
    // waits for the deadline checks the clock and yields again.
    virtual void yieldUntil(double deadline) = 0;
    // Runs the function later from the event loop, after the current handler.
    virtual void post(std::function<void()> function) = 0;
};

} // namespace zentrel::platform
