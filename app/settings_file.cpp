// settings_file.cpp: one profile call per settings access, the path formed anew each time.
#include "app/settings_file.h"

#include "app/number_text.h"

#include <exception>
#include <filesystem>

namespace zentrel::app {
namespace {

constexpr std::size_t ValueSize = 100;   // 99 bytes of value and the terminating zero

} // namespace

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
    std::string value;
    try {
        value = profile.getString(SettingsSection, key, "", ValueSize, settingsPath());
    } catch (const std::exception &) {
        return 0;   // an unreadable file reads as the empty value
    }
    if (value.size() > ValueSize - 1)
        value.resize(ValueSize - 1);
    return parseNumber(value);
}

void writeSetting(platform::Profile &profile, std::string_view key, std::string_view value)
{
    try {
        profile.writeString(SettingsSection, key, value, settingsPath());
    } catch (const std::exception &) {
        // Like a write that returns false: the setting keeps its old text.
    }
}

} // namespace zentrel::app
