// settings_file.h: reading and writing one value of zentrel.ini in the current directory.
#pragma once
#include "console/router_settings.h"
#include "platform/profile.h"

#include <string>
#include <string_view>

namespace zentrel::app {

using console::SettingsSection;

// zentrel.ini in the current directory as it is at this moment.
std::string settingsPath();

// The number of the key's value in zentrel.ini (see readSettingNumber).
double readSetting(platform::Profile &profile, std::string_view key);

// Sets the key's value text. A write that fails leaves the setting's old
// text in the file and is reported on stderr; the window goes on.
void writeSetting(platform::Profile &profile, std::string_view key, std::string_view value);

} // namespace zentrel::app
