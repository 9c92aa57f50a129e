// live_zentrel.h: the whole program in the test's process: Qt services, window, view, handlers.
#pragma once
#include "app/application.h"
#include "platform/qt/qt_platform.h"
#include "ui/qt/qt_view.h"
#include "ui/window_model.h"

namespace zentrel::tests {

// Built in the order main.cpp builds them; start() is the window's load and show.
struct LiveZentrel {
    platform::QtPlatform qt;
    ui::ZentrelFRM form;
    ui::QtView view{form};
    app::Application application{form, qt.platform()};

    // False when start-up unloaded the window instead of finishing.
    bool start()
    {
        application.load();
        if (form.unloaded())
            return false;
        view.show();
        return true;
    }
};

} // namespace zentrel::tests
