// qt_loop_bridge.cpp: one notifier on the POSIX loop's descriptor.
#include "platform/qt/qt_loop_bridge.h"

#include "platform/posix/posix_loop.h"

#include <QSocketNotifier>

namespace zentrel::platform {

namespace {

constexpr double TimerLead = 0.0005;   // seconds; twice the POSIX loop's early wake

} // namespace

QtLoopBridge::QtLoopBridge(PosixLoop &loop)
    : m_notifier(std::make_unique<QSocketNotifier>(loop.fd(), QSocketNotifier::Read))
{
    // The loop wakes a quarter millisecond before a timer is due: the pass
    // waits out the rest itself, as the loop of zentrel-serve does, so a
    // pause ends on time even when the machine is busy. With anything else
    // to do the pass does not wait at all. The loop reports what escapes its
    // callbacks itself; a pass never throws.
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [&loop] { loop.runOnce(TimerLead); });
}

QtLoopBridge::~QtLoopBridge() = default;

} // namespace zentrel::platform
