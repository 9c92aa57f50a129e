// instance_guard.h: tells whether another copy of Zentrel runs for this user.
#pragma once

namespace zentrel::platform {

class InstanceGuard
{
public:
    virtual ~InstanceGuard() = default;

    // True when another copy already holds the guard. The first call of a copy
    // that finds none takes the guard for the rest of its run; a crashed copy
    // does not keep it.
    virtual bool anotherCopyRunning() = 0;
};

} // namespace zentrel::platform
