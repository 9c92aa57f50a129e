// qt_loop_bridge.cpp: one notifier on the POSIX loop's descriptor.
#include "platform/qt/qt_loop_bridge.h"

#include "platform/posix/posix_loop.h"

#include <QSocketNotifier>

namespace zentrel::platform {

QtLoopBridge::QtLoopBridge(PosixLoop &loop)
    : m_notifier(std::make_unique<QSocketNotifier>(loop.fd(), QSocketNotifier::Read))
{
    // The loop reports what escapes its callbacks itself; a pass never throws.
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [&loop] { loop.runOnce(0); });
}

QtLoopBridge::~QtLoopBridge() = default;

} // namespace zentrel::platform
