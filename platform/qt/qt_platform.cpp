// qt_platform.cpp: builds one Qt implementation of each platform service.
#include "platform/qt/qt_platform.h"

#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_instance_guard.h"
#include "platform/posix/posix_profile.h"
#include "platform/qt/qt_sockets.h"
#include "platform/posix/posix_text_files.h"

namespace zentrel::platform {

struct QtPlatform::Services {
    QtSocketArray sockets;
    PosixProfile profile;
    PosixTextFiles files;
    QtEventLoop loop;
    QtDialogs dialogs;
    QtInstanceGuard guard;
};

QtPlatform::QtPlatform()
    : m_services(std::make_unique<Services>()),
      m_platform{m_services->sockets, m_services->profile, m_services->files,
                 m_services->loop,    m_services->dialogs, m_services->guard}
{
}

QtPlatform::~QtPlatform() = default;

QtSocketArray &QtPlatform::sockets()
{
    return m_services->sockets;
}

QtEventLoop &QtPlatform::loop()
{
    return m_services->loop;
}

} // namespace zentrel::platform
