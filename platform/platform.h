// platform.h: the platform services, handed to the handlers together.
#pragma once
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/instance_guard.h"
#include "platform/network.h"
#include "platform/profile.h"
#include "platform/text_files.h"

namespace zentrel::platform {

struct Platform {
    Network &network;   // the listening port of Winsock1
    Profile &profile;
    TextFiles &files;
    EventLoop &loop;
    Dialogs &dialogs;
    InstanceGuard &guard;
};

} // namespace zentrel::platform
