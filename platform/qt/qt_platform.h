// qt_platform.h: the Qt implementations of the platform services.
#pragma once
#include "platform/platform.h"

#include <memory>

namespace zentrel::platform {

class QtSocketArray;
class QtEventLoop;

// Builds the Qt implementation of every service once; main.cpp and the
// end-to-end tests hand platform() to the handlers. Needs a QApplication.
class QtPlatform
{
public:
    QtPlatform();
    ~QtPlatform();

    Platform &platform() { return m_platform; }

    // The concrete services, for tests (the bound port of Winsock1, say).
    QtSocketArray &sockets();
    QtEventLoop &loop();

private:
    struct Services;
    std::unique_ptr<Services> m_services;
    Platform m_platform;
};

} // namespace zentrel::platform
