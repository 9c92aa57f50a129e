// qt_platform.h: the Qt implementations of the platform services.
#pragma once
#include "platform/platform.h"

#include <memory>

namespace zentrel::platform {

// Builds the Qt implementation of every service once; main.cpp and the
// end-to-end tests hand platform() to the handlers. Needs a QApplication.
class QtPlatform
{
public:
    QtPlatform();
    ~QtPlatform();

    Platform &platform() { return m_platform; }

private:
    struct Services;
    std::unique_ptr<Services> m_services;
    Platform m_platform;
};

} // namespace zentrel::platform
