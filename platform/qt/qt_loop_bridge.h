// qt_loop_bridge.h: the engine's POSIX loop, driven from Qt's event loop.
#pragma once
#include <memory>

class QSocketNotifier;

namespace zentrel::platform {

class PosixLoop;

// One notifier on the loop's epoll descriptor: whenever a watched socket,
// a due timer or posted work makes it readable, Qt's loop runs one pass of
// ours without waiting. The sessions' timers keep the POSIX loop's precision
// and nothing polls while the window is idle. Needs a QCoreApplication.
class QtLoopBridge
{
public:
    explicit QtLoopBridge(PosixLoop &loop);
    ~QtLoopBridge();
    QtLoopBridge(const QtLoopBridge &) = delete;
    QtLoopBridge &operator=(const QtLoopBridge &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace zentrel::platform
