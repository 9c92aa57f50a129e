// qt_instance_guard.h: the per-user lock file that tells a second copy of Zentrel apart.
#pragma once
#include "platform/instance_guard.h"

#include <memory>

class QLockFile;

namespace zentrel::platform {

// The lock file "zentrel.lock" lives in the user's runtime directory
// (XDG_RUNTIME_DIR when it is set and usable, else the temporary directory),
// so a process given its own directories runs beside the others. The lock is
// held until the process ends. A lock that names no live copy of Zentrel on
// this host (a dead process, another host, another program, or an empty or
// garbled file older than a few seconds) is taken over.
class QtInstanceGuard : public InstanceGuard
{
public:
    QtInstanceGuard();
    ~QtInstanceGuard() override;

    bool anotherCopyRunning() override;

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace zentrel::platform
