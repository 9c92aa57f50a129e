// shutdown.cpp: the unload of the window: stop the paced loops, save the position, close up.
#include "app/shutdown.h"

#include "app/settings_file.h"
#include "console/number_text.h"

#include <cstdio>
#include <exception>

namespace zentrel::app {

void shutdown(ui::ZentrelFRM &form, platform::Platform &platform, ui::Shared &shared)
{
    // First, so that every loop that regains control after this stops.
    shared.stopRequested = 1;

    // A refused copy never read a position: writing one would overwrite the
    // position of the copy that runs.
    if (!form.minimized() && !shared.refusedCopy) {
        writeSetting(platform.profile, "PositionX", console::singleText(form.left()));
        writeSetting(platform.profile, "PositionY", console::singleText(form.top()));
    }

    // Nothing new is accepted while the handlers unwind. A playback or a
    // preview still running closes its own file once it sees stopRequested.
    platform.network.close();
}

} // namespace zentrel::app
