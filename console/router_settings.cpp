// router_settings.cpp: one profile read per value, the same number parse for every program.
#include "console/router_settings.h"

#include "console/number_text.h"

#include <cstdio>
#include <exception>

namespace zentrel::console {
namespace {

constexpr std::size_t ValueSize = 100;   // 99 bytes of value and the terminating zero

} // namespace

double readSettingNumber(platform::Profile &profile, std::string_view key, const std::string &iniPath)
{
    std::string value;
    try {
        value = profile.getString(SettingsSection, key, "", ValueSize, iniPath);
    } catch (const std::exception &error) {
        // Read as the empty value, as a missing key would be.
        std::fprintf(stderr, "zentrel: cannot read %.*s from %s: %s\n", int(key.size()), key.data(),
                     iniPath.c_str(), error.what());
        return 0;
    }
    if (value.size() > ValueSize - 1)
        value.resize(ValueSize - 1);
    return parseNumber(value);
}

RouterSettings readRouterSettings(platform::Profile &profile, const std::string &iniPath)
{
    RouterSettings settings;
    settings.delay = readSettingNumber(profile, "Delay", iniPath);
    if (settings.delay < 0) {
        settings.delay = 0;
        settings.delayReset = true;
    }
    settings.port = readSettingNumber(profile, "TCP-Port", iniPath);
    if (settings.port == 0) {
        settings.port = DefaultPort;
        settings.portDefaulted = true;
    }
    return settings;
}

} // namespace zentrel::console
