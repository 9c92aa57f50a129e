// console_settings.cpp: a router's SSH account, echo and pace, as its settings file gives them.
#include "serve/console_settings.h"

#include "console/router_settings.h"
#include "serve/options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

namespace zentrel::serve {

namespace {

constexpr std::size_t ValueSize = 256;

std::string readText(platform::Profile &profile, std::string_view key, const std::string &iniPath)
{
    try {
        return profile.getString(console::SettingsSection, key, "", ValueSize, iniPath);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zentrel-serve: cannot read %.*s from %s: %s\n", int(key.size()), key.data(),
                     iniPath.c_str(), error.what());
        return {};
    }
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

[[noreturn]] void badWord(const std::string &router, const char *key, const std::string &value,
                          const char *words)
{
    throw UsageError("router '" + router + "': " + key + "=" + value + " is not one of " + words);
}

} // namespace

ConsoleSettings readConsoleSettings(platform::Profile &profile, const std::string &iniPath,
                                    const std::string &router)
{
    ConsoleSettings settings;
    settings.sshPort = console::readSettingNumber(profile, "SSH-Port", iniPath);
    settings.sshUser = readText(profile, "SSH-User", iniPath);
    settings.sshPassword = readText(profile, "SSH-Password", iniPath);

    if (const std::string echo = readText(profile, "Echo", iniPath); !echo.empty()) {
        if (lower(echo) == "yes")
            settings.echo = true;
        else if (lower(echo) == "no")
            settings.echo = false;
        else
            badWord(router, "Echo", echo, "Yes, No");
    }
    if (const std::string pace = readText(profile, "Pace", iniPath); !pace.empty()) {
        if (lower(pace) == "clock")
            settings.pace = console::Pace::Clock;
        else if (lower(pace) == "enter")
            settings.pace = console::Pace::Enter;
        else
            badWord(router, "Pace", pace, "Clock, Enter");
    }
    if (const std::string fault = readText(profile, "Fault", iniPath); !fault.empty()) {
        if (lower(fault) == "close")
            settings.faults.end = console::Faults::End::Close;
        else if (lower(fault) == "reset")
            settings.faults.end = console::Faults::End::Reset;
        else
            badWord(router, "Fault", fault, "Close, Reset");
    }
    auto notNegative = [&](const char *key) {
        const double value = console::readSettingNumber(profile, key, iniPath);
        if (value < 0)
            throw UsageError("router '" + router + "': " + key + " must not be negative");
        return value;
    };
    if (const double after = notNegative("FaultAfter"); after > 0 || !readText(profile, "FaultAfter", iniPath).empty())
        settings.faults.after = std::size_t(after);
    settings.faults.rate = notNegative("Rate");
    settings.faults.jitter = notNegative("Jitter");
    if (const std::string mismatch = readText(profile, "Mismatch", iniPath); !mismatch.empty()) {
        if (lower(mismatch) == "close")
            settings.mismatchClose = true;
        else if (lower(mismatch) != "continue")
            badWord(router, "Mismatch", mismatch, "Close, Continue");
    }
    return settings;
}

} // namespace zentrel::serve
