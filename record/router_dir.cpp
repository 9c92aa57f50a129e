// router_dir.cpp: writes RESPONSE.TXT, EXPECT.TXT and zentrel.ini for a recorded session.
#include "record/router_dir.h"
#include "record/commands_writer.h"
#include "console/item_writer.h"
#include "platform/posix/output_files.h"
#include "serve/expect_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace zentrel::record {

namespace fs = std::filesystem;

std::string responseText(const Recording &recording)
{
    return console::writeItems(recording.items);
}

std::string expectText(const Recording &recording, bool keepSecrets)
{
    std::string out;
    for (const Recording::Line &line : recording.lines) {
        if (line.password && !keepSecrets)
            out += "~.*";
        else
            out += serve::exactLine(line.text);
        out += '\n';
    }
    return out;
}

namespace {

std::string delayText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string out = text;
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out;
}

bool writeFile(const fs::path &path, const std::string &bytes, std::string &error)
{
    const int fd = platform::createOutputFile(path.string(), error);
    if (fd < 0)
        return false;
    if (!platform::writeAll(fd, bytes)) {
        error = path.string() + ": cannot be written: " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = path.string() + ": cannot be written: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

std::string settingsText(const Recording &recording, Listened listened)
{
    // A router recorded over SSH is played back over SSH on the same port; its
    // Telnet port stays the default.
    return "[Settings]\r\n" + std::string(listened.ssh ? "SSH-Port=" : "TCP-Port=")
           + std::to_string(listened.port) + "\r\nDelay="
           + delayText(recording.delay) + "\r\nPace=Enter\r\nEcho="
           + (recording.echo ? "Yes" : "No") + "\r\n";
}

std::string summary(const Recording &recording)
{
    return std::to_string(recording.items.size()) + " items, "
           + std::to_string(recording.lines.size()) + " lines, Delay="
           + delayText(recording.delay) + ", Echo=" + (recording.echo ? "Yes" : "No");
}

bool makeDirs(const std::string &dir, std::string &error)
{
    std::error_code code;
    fs::create_directories(dir, code);
    if (code || !fs::is_directory(dir)) {
        error = dir + ": cannot be made a directory"
                + (code ? ": " + code.message() : std::string());
        return false;
    }
    return true;
}

bool writeRouterDir(const std::string &dir, const Recording &recording, Listened listened,
                    bool keepSecrets, std::string &error)
{
    if (!makeDirs(dir, error))
        return false;
    const fs::path base(dir);
    return writeFile(base / "RESPONSE.TXT", responseText(recording), error)
        && writeFile(base / "EXPECT.TXT", expectText(recording, keepSecrets), error)
        && writeFile(base / "zentrel.ini", settingsText(recording, listened), error);
}

bool writeCommandsDir(const std::string &dir, const Recording &recording, const std::string &yaml,
                      Listened listened, std::string &error)
{
    if (!makeDirs(dir, error))
        return false;
    const fs::path base(dir);
    const std::string settings = "[Settings]\r\n" + std::string(listened.ssh ? "SSH-Port=" : "TCP-Port=")
                                 + std::to_string(listened.port) + "\r\nEcho=" + (recording.echo ? "Yes" : "No")
                                 + "\r\n";
    return writeFile(base / "commands.yaml", yaml, error) && writeFile(base / "zentrel.ini", settings, error);
}

bool writeSession(const std::string &dir, const SessionLog &log, const OutputSetup &setup, std::string &summary,
                  std::vector<std::string> &warnings, std::string &error)
{
    Recording recording = buildRecording(log, setup.commands ? Playback::Commands : Playback::Items);
    summary = record::summary(recording);
    bool written = false;
    if (setup.commands) {
        CommandsRecording commands = buildCommands(recording, setup.listened.ssh);
        written = writeCommandsDir(dir, recording, commands.yaml, setup.listened, error);
        auto count = [](std::size_t n, const char *what) {
            return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
        };
        summary = count(commands.modes, "mode") + ", " + count(commands.commands, "command") + " from "
                  + count(recording.lines.size(), "line") + ", " + summary.substr(summary.find("Delay"));
        recording.warnings.insert(recording.warnings.end(), commands.warnings.begin(), commands.warnings.end());
    } else {
        written = writeRouterDir(dir, recording, setup.listened, setup.keepSecrets, error);
    }
    for (const std::string &warning : recording.warnings)
        warnings.push_back("warning: " + warning);
    for (std::size_t k = 0; k < recording.lines.size() && !setup.commands && !setup.keepSecrets; ++k)
        if (recording.lines[k].password)
            warnings.push_back("line " + std::to_string(k + 1)
                               + " answers a password prompt: written as ~.* in EXPECT.TXT (--keep-secrets keeps it)");
    return written;
}

bool outputDirUsable(const std::string &dir, bool force, std::string &error)
{
    std::error_code code;
    const fs::file_status status = fs::status(dir, code);
    if (!fs::exists(status))
        return true;
    if (!fs::is_directory(status)) {
        error = dir + ": exists and is not a directory";
        return false;
    }
    if (force)
        return true;
    if (fs::directory_iterator(dir, code) != fs::directory_iterator()) {
        error = dir + ": is not empty; --force writes into it anyway";
        return false;
    }
    if (code) {
        error = dir + ": " + code.message();
        return false;
    }
    return true;
}

} // namespace zentrel::record
