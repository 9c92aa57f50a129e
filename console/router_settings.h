// router_settings.h: a router's port and pause, as its settings file gives them.
#pragma once
#include "platform/profile.h"

#include <string>
#include <string_view>

namespace zentrel::console {

inline constexpr std::string_view SettingsSection = "Settings";
inline constexpr double DefaultPort = 1101;

// The number of one value of the section (see parseNumber); only its first
// 99 bytes count. A missing file, section or key gives 0, and so does a file
// that cannot be read, which is also reported on stderr.
double readSettingNumber(platform::Profile &profile, std::string_view key, const std::string &iniPath);

struct RouterSettings {
    double port = DefaultPort;   // as read, before any rounding
    double delay = 0;            // seconds, never negative
    bool portDefaulted = false;  // TCP-Port gave 0 (missing, empty, 0 or no number): 1101 taken
    bool delayReset = false;     // Delay was negative: 0 taken
};

// TCP-Port and Delay of the file, with the rules both programs apply. Only
// reads: writing the defaults back is the caller's choice.
RouterSettings readRouterSettings(platform::Profile &profile, const std::string &iniPath);

} // namespace zentrel::console
