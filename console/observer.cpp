// observer.cpp: the names of the ways a session ends, as reports spell them.
#include "console/observer.h"

namespace zentrel::console {

const char *reasonName(EndReason reason)
{
    switch (reason) {
    case EndReason::ScriptExhausted: return "script-exhausted";
    case EndReason::ClientGone: return "client-gone";
    case EndReason::Stopped: return "stopped";
    case EndReason::Failed: return "failed";
    case EndReason::AuthFailed: return "auth-failed";
    case EndReason::Fault: return "fault";
    case EndReason::Mismatch: return "mismatch";
    case EndReason::Closed: return "closed";
    }
    return "failed";
}

} // namespace zentrel::console
