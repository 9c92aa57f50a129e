// shutdown.cpp: placeholder until shutdown lands.
#include "app/shutdown.h"

namespace zentrel::app {

void shutdown(ui::ZentrelFRM &, platform::Platform &, console::Shared &shared)
{
    shared.stopRequested = 1;
}

} // namespace zentrel::app
