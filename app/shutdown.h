// shutdown.h: what Zentrel does when its window unloads.
#pragma once
#include "ui/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace zentrel::app {

// Sets stopRequested, saves the window position unless the window is
// minimized, and closes what is still open; the paced loops that regain
// control stop by themselves.
void shutdown(ui::ZentrelFRM &form, platform::Platform &platform, ui::Shared &shared);

} // namespace zentrel::app
