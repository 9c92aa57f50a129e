// startup_rig.h: start-up's world, the real files and settings with scripted dialogs and a fake socket array.
#pragma once
#include "app/shutdown.h"
#include "app/startup.h"
#include "console/shared.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

#include <algorithm>

namespace zentrel::tests {

// Start-up's world: the real files and settings of the current directory,
// scripted dialogs and guard, and a socket array that is fake unless the
// test asks for the real one. Unloading the window shuts down as Exit does.
// The files are counted, so a test can tell that none was left open.
struct StartupRig {
    explicit StartupRig(bool realSockets = false)
        : platform{realSockets ? qt.platform().sockets : sockets,
                   qt.platform().profile,
                   files,
                   loop,
                   dialogs,
                   guard}
    {
        form.onUnload = [this] { app::shutdown(form, platform, shared); };
    }

    void start() { app::startup(form, platform, shared); }
    // Whether start-up made the fake socket array listen.
    bool listening() const
    {
        const auto &calls = sockets.calls();
        return std::find(calls.begin(), calls.end(), "listen 0") != calls.end();
    }

    platform::QtPlatform qt;
    CountingTextFiles files{qt.platform().files};
    FakeSocketArray sockets;
    FakeEventLoop loop;
    FakeDialogs dialogs;
    FakeInstanceGuard guard;
    platform::Platform platform;
    ui::ZentrelFRM form;
    console::Shared shared;
};

} // namespace zentrel::tests
