// settings_file.h: reading and writing one value of zentrel.ini in the current directory.
#pragma once
#include "platform/profile.h"

#include <string>
#include <string_view>

namespace zentrel::app {

inline constexpr std::string_view SettingsSection = "Settings";

// zentrel.ini in the current directory as it is at this moment.
std::string settingsPath();

// The number of the key's value (see parseNumber); only the first 99 bytes
// of the value count. A missing file, section or key, or a file that cannot
// be read, gives 0.
double readSetting(platform::Profile &profile, std::string_view key);

// Sets the key's value text; a write that fails goes unnoticed.
void writeSetting(platform::Profile &profile, std::string_view key, std::string_view value);

} // namespace zentrel::app
