// startup.h: what Zentrel does when its window loads, before it is shown.
#pragma once
#include "ui/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace zentrel::app {

// Runs the whole start-up sequence, with its recovery. Ends with the window
// unloaded (another copy runs), complete (listening), or with a status text
// in LBL_titre. Leaves the probes' verdict on CMD_OriginalConfig and
// CMD_Answers in shared.configAvailable and shared.responsesAvailable.
void startup(ui::ZentrelFRM &form, platform::Platform &platform, ui::Shared &shared);

} // namespace zentrel::app
