// console_settings.h: a router's SSH account, echo and pace, as its settings file gives them.
#pragma once
#include "console/faults.h"
#include "console/pace.h"
#include "platform/profile.h"

#include <optional>
#include <string>

namespace zentrel::serve {

struct ConsoleSettings {
    double sshPort = 0;                 // as read; 0 when absent: no SSH unless --ssh-port
    std::string sshUser;                // empty: any account is let in
    std::string sshPassword;
    std::optional<bool> echo;           // absent: No on Telnet, Yes on SSH
    console::Pace pace = console::Pace::Clock;
    bool mismatchClose = false;         // Mismatch=Close: a line that breaks EXPECT.TXT ends the session
    console::Faults faults;             // Fault, FaultAfter, Rate, Jitter (the seed is --seed's)
};

// Throws UsageError naming the router, the key and the value for an Echo
// that is not Yes or No, a Pace that is not Clock or Enter, or a Mismatch
// that is not Close or Continue (either case), a Fault that is not Close or
// Reset, or a FaultAfter, Rate or Jitter that is negative.
ConsoleSettings readConsoleSettings(platform::Profile &profile, const std::string &iniPath,
                                    const std::string &router);

} // namespace zentrel::serve
