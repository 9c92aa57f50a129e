// startup.cpp: placeholder until start-up lands.
#include "app/startup.h"

namespace zentrel::app {

void startup(ui::ZentrelFRM &, platform::Platform &, console::Shared &) {}

} // namespace zentrel::app
