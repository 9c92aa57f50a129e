// paced_wait.cpp: placeholder until the paced wait lands.
#include "console/paced_wait.h"

namespace zentrel::console {

WaitResult pacedWait(Shared &shared, platform::EventLoop &loop)
{
    const double deadline = loop.now() + shared.responseDelay;
    while (loop.now() < deadline) {
        loop.yieldUntil(deadline);
        if (shared.stopRequested)
            return WaitResult::Stopped;
    }
    return WaitResult::Over;
}

} // namespace zentrel::console
