// paced_wait.h: the pause before each played or previewed item.
#pragma once
#include "console/shared.h"
#include "platform/event_loop.h"

namespace zentrel::console {

enum class WaitResult { Over, Stopped };

// Waits responseDelay seconds (read afresh now), letting every event through.
// Stopped as soon as a yield saw stopRequested set; a pause of 0 ends at
// once, without yielding.
WaitResult pacedWait(Shared &shared, platform::EventLoop &loop);

} // namespace zentrel::console
