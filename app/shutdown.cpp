// shutdown.cpp: the unload of the window: stop the paced loops, save the position, close up.
#include "app/shutdown.h"

#include "console/number_text.h"
#include "app/settings_file.h"

namespace zentrel::app {
namespace {

constexpr int HeldByPlayback = 1;   // a running playback or preview closes it itself
constexpr int LastFileNumber = 255;

} // namespace

void shutdown(ui::ZentrelFRM &form, platform::Platform &platform, console::Shared &shared)
{
    // First, so that every loop that regains control after this stops.
    shared.stopRequested = 1;

    // A refused copy never read a position: writing one would overwrite the
    // position of the copy that runs.
    if (!form.minimized() && !shared.refusedCopy) {
        writeSetting(platform.profile, "PositionX", console::singleText(form.left()));
        writeSetting(platform.profile, "PositionY", console::singleText(form.top()));
    }

    // Nothing new is accepted while the handlers unwind.
    try {
        platform.sockets.closeAll();
    } catch (...) {
    }
    for (int number = HeldByPlayback + 1; number <= LastFileNumber; ++number) {
        try {
            if (platform.files.isOpen(number))
                platform.files.close(number);
        } catch (...) {
        }
    }
}

} // namespace zentrel::app
