// startup_rig.h: start-up's world, the real files and settings with scripted dialogs and a fake network.
#pragma once
#include "app/shutdown.h"
#include "app/startup.h"
#include "ui/shared.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

namespace zentrel::tests {

// Start-up's world: the real files and settings of the current directory,
// scripted dialogs and guard, and a network that is fake unless the test
// asks for the real one. Unloading the window shuts down as Exit does.
// The files are counted, so a test can tell that none was left open.
struct StartupRig {
    explicit StartupRig(bool realNetwork = false)
        : platform{realNetwork ? qt.platform().network : network,
                   qt.platform().profile,
                   files,
                   loop,
                   dialogs,
                   guard}
    {
        form.onUnload = [this] { app::shutdown(form, platform, shared); };
    }

    void start() { app::startup(form, platform, shared); }
    // Whether start-up made the fake network listen.
    bool listening() const { return network.listening(); }

    platform::QtPlatform qt;
    CountingTextFiles files{qt.platform().files};
    FakeEventLoop loop;
    FakeNetwork network{loop};
    FakeDialogs dialogs;
    FakeInstanceGuard guard;
    platform::Platform platform;
    ui::ZentrelFRM form;
    ui::Shared shared;
};

} // namespace zentrel::tests
