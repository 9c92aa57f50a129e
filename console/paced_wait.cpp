// paced_wait.cpp: the pause before each played or previewed item.
#include "console/paced_wait.h"

namespace zentrel::console {

WaitResult pacedWait(Shared &shared, platform::EventLoop &loop)
{
    const double delay = shared.responseDelay;
    // A pause of 0 (or one that is not a number) is over on the first look at
    // the clock; the items then go out back to back without a yield.
    if (!(delay > 0))
        return WaitResult::Over;

    const double deadline = loop.now() + delay;
    // Yields on every pass: data arrival, clicks, the alarm tick and the
    // window's unload all run inside this loop. The loop sleeps until the
    // deadline or the next event, so a pause costs next to no CPU.
    while (loop.now() < deadline) {
        loop.yieldUntil(deadline);
        if (shared.stopRequested)
            return WaitResult::Stopped;
    }
    return WaitResult::Over;
}

} // namespace zentrel::console
