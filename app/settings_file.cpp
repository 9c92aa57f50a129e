// settings_file.cpp: one profile call per settings access, the path formed anew each time.
#include "app/settings_file.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace zentrel::app {

std::string settingsPath()
{
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    if (error)
        return "zentrel.ini";   // the directory is gone; the profile finds nothing there
    return (directory / "zentrel.ini").string();
}

double readSetting(platform::Profile &profile, std::string_view key)
{
    return console::readSettingNumber(profile, key, settingsPath());
}

void writeSetting(platform::Profile &profile, std::string_view key, std::string_view value)
{
    const std::string path = settingsPath();
    std::string reason = "the file could not be written";
    try {
        if (profile.writeString(SettingsSection, key, value, path))
            return;
    } catch (const std::exception &error) {
        reason = error.what();
    }
    std::fprintf(stderr, "zentrel: %s: %.*s keeps its old value: %s\n", path.c_str(), int(key.size()),
                 key.data(), reason.c_str());
}

} // namespace zentrel::app
