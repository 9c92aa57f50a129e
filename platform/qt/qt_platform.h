// qt_platform.h: the window's platform services: the engine's POSIX loop and TCP under Qt's loop.
#pragma once
#include "platform/platform.h"

#include <memory>

namespace zentrel::platform {

class PosixLoop;
class TcpNetwork;

// Builds each service once; main.cpp and the in-process tests hand
// platform() to the handlers. Needs a QApplication, whose loop drives the
// POSIX loop through one notifier.
class QtPlatform
{
public:
    QtPlatform();
    ~QtPlatform();

    Platform &platform() { return m_platform; }

    // The concrete services, for main.cpp and tests (the bound port, say).
    PosixLoop &loop();
    TcpNetwork &network();

private:
    struct Services;
    std::unique_ptr<Services> m_services;
    Platform m_platform;
};

} // namespace zentrel::platform
