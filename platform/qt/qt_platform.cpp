// qt_platform.cpp: builds one implementation of each platform service.
#include "platform/qt/qt_platform.h"

#include "platform/posix/posix_loop.h"
#include "platform/posix/posix_profile.h"
#include "platform/posix/posix_text_files.h"
#include "platform/posix/tcp_network.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_instance_guard.h"
#include "platform/qt/qt_loop_bridge.h"

namespace zentrel::platform {

struct QtPlatform::Services {
    // The loop first: the connections made on it go before it does.
    PosixLoop loop;
    QtLoopBridge bridge{loop};
    TcpNetwork network{loop};
    PosixProfile profile;
    PosixTextFiles files;
    QtDialogs dialogs;
    QtInstanceGuard guard;
};

QtPlatform::QtPlatform()
    : m_services(std::make_unique<Services>()),
      m_platform{m_services->network, m_services->profile, m_services->files,
                 m_services->loop,    m_services->dialogs, m_services->guard}
{
}

QtPlatform::~QtPlatform() = default;

PosixLoop &QtPlatform::loop()
{
    return m_services->loop;
}

TcpNetwork &QtPlatform::network()
{
    return m_services->network;
}

} // namespace zentrel::platform
