// lint.cpp: each router directory read as zentrel-serve would read it, and told back plainly.
#include "serve/lint.h"

#include "console/commands/model.h"
#include "console/number_text.h"
#include "console/script.h"
#include "platform/posix/posix_profile.h"
#include "platform/posix/posix_text_files.h"
#include "serve/expect_file.h"
#include "serve/visible.h"

#include <re2/re2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/stat.h>

namespace zentrel::serve {

namespace {

constexpr const char *SettingsName = "zentrel.ini";
constexpr std::size_t ValueSize = 100;   // the routers read 99 bytes of a value

// The file's bytes into `bytes`, nullopt when it does not exist; the reason
// when it exists but cannot be read, "" otherwise.
std::string readFile(const std::string &path, std::optional<std::string> &bytes)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "" : std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::strerror(errno);
    bytes.emplace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return "input/output error";
    return "";
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The line of `key` in the [Settings] section, for the warning's file:line; 0 when not found.
std::size_t settingLine(std::string_view ini, std::string_view key)
{
    bool inSettings = false;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < ini.size()) {
        std::size_t end = ini.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = ini.size();
        const std::string_view line = trimmed(ini.substr(start, end - start));
        start = end + (ini.substr(end, 2) == "\r\n" ? 2 : 1);
        ++number;
        if (line.starts_with(';') || line.starts_with('#')) {
            continue;
        } else if (line.starts_with('[')) {
            inSettings = lower(line) == "[settings]";
        } else if (inSettings) {
            const auto equals = line.find('=');
            if (equals != std::string_view::npos && lower(trimmed(line.substr(0, equals))) == lower(key))
                return number;
        }
    }
    return 0;
}

class RouterLint
{
public:
    RouterLint(const std::string &dir, platform::Profile &profile, LintResult &result)
        : m_dir(dir), m_profile(profile), m_result(result)
    {
    }
    void run();

private:
    std::string path(const char *name) const { return (std::filesystem::path(m_dir) / name).string(); }
    void warn(const std::string &file, std::size_t line, const std::string &text)
    {
        m_result.text += file + (line ? ":" + std::to_string(line) : "") + ": warning: " + text + "\n";
        m_result.status = std::max(m_result.status, 1);
    }
    void unreadable(const std::string &file, const std::string &why)
    {
        m_result.text += file + ": error: cannot read: " + why + "\n";
        m_result.status = 2;
    }
    // False, and said, when the file exists but cannot be read.
    bool load(const std::string &file, std::optional<std::string> &bytes)
    {
        const std::string why = readFile(file, bytes);
        if (!why.empty())
            unreadable(file, why);
        return why.empty();
    }
    void settings();
    void script();
    void commands();
    void expectations();

    std::string m_dir;
    platform::Profile &m_profile;
    LintResult &m_result;
    double m_delay = 0;
};

void RouterLint::run()
{
    std::error_code error;
    if (!std::filesystem::is_directory(m_dir, error)) {
        unreadable(m_dir, error ? error.message() : "not a directory");
        return;
    }
    std::filesystem::path name = std::filesystem::absolute(m_dir, error).lexically_normal();
    if (name.filename().empty())
        name = name.parent_path();
    m_result.text += "router " + name.filename().string() + " (" + m_dir + ")\n";
    settings();
    if (console::commands::hasCommandsFile(m_dir))
        commands();
    else
        script();
    expectations();
}

// A command-driven router: commands.yaml instead of the script, checked as
// zentrel-serve loads it, every finding with its file and line.
void RouterLint::commands()
{
    const std::string file = path(console::commands::CommandsFile);
    platform::PosixTextFiles files;
    const std::vector<console::commands::Finding> findings = console::commands::lintModel(m_dir, files);
    const bool broken = std::any_of(findings.begin(), findings.end(), [](const auto &f) { return f.error; });
    m_result.text += "  " + std::string(console::commands::CommandsFile) + ": command-driven"
                     + (broken ? ", but zentrel-serve would not start" : "") + "\n";
    for (const console::commands::Finding &finding : findings) {
        m_result.text += finding.toString() + "\n";
        m_result.status = std::max(m_result.status, finding.error ? 2 : 1);
    }
    struct stat info {};
    if (::stat(path(console::ResponseFile).c_str(), &info) == 0)
        warn(path(console::ResponseFile), 0, "not played: commands.yaml makes the router command-driven");
}

void RouterLint::settings()
{
    const std::string file = path(SettingsName);
    std::optional<std::string> ini;
    if (!load(file, ini))
        return;
    auto lineOf = [&](std::string_view key) { return ini ? settingLine(*ini, key) : std::size_t{0}; };
    auto value = [&](std::string_view key) {
        std::string text = ini ? m_profile.getString("Settings", key, "", ValueSize, file) : "";
        return text.substr(0, ValueSize - 1);
    };

    static const re2::RE2 plainWhole("[0-9]+|&[Hh][0-9A-Fa-f]+|&[Oo][0-7]+");
    static const re2::RE2 plainNumber("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
    const std::string portText = value("TCP-Port");
    const double port = console::parseNumber(portText);
    const std::string shownPort = visibleText(trimmed(portText));
    const double rounded = std::nearbyint(port);   // halves to the even one, as the listener takes it
    double listenPort = port == 0 ? 1101 : rounded;
    if (port == 0 && !trimmed(portText).empty() && shownPort != "0") {
        warn(file, lineOf("TCP-Port"), "TCP-Port=" + shownPort + " is read as 0, so port 1101 is taken");
    } else if (port != 0 && (!re2::RE2::FullMatch(trimmed(portText), plainWhole) || rounded < 1
                             || rounded > 65535)) {
        std::string consequence = rounded < 1 || rounded > 65535
                                      ? "; no listener can take it, the router does not start"
                                      : ", port " + console::doubleText(rounded);
        warn(file, lineOf("TCP-Port"),
             "TCP-Port=" + shownPort + " is read as " + console::doubleText(port) + consequence);
    }

    const std::string delayText = value("Delay");
    m_delay = console::parseNumber(delayText);
    const std::string shownDelay = visibleText(trimmed(delayText));
    if (!trimmed(delayText).empty() && !re2::RE2::FullMatch(trimmed(delayText), plainNumber))
        warn(file, lineOf("Delay"),
             "Delay=" + shownDelay + " is read as " + console::doubleText(m_delay) + " s");
    if (m_delay < 0) {
        warn(file, lineOf("Delay"), "Delay=" + shownDelay + " is negative, so 0 is taken");
        m_delay = 0;
    }
    m_result.text += "  " + std::string(SettingsName) + (ini ? "" : " (none)") + ": TCP-Port "
                     + console::doubleText(listenPort) + ", Delay " + console::doubleText(m_delay) + " s\n";
}

void RouterLint::script()
{
    const std::string file = path(console::ResponseFile);
    std::optional<std::string> bytes;
    if (!load(file, bytes))
        return;
    if (!bytes) {
        warn(file, 0, "missing; the router sends no bytes, then closes each connection");
        return;
    }
    const ScriptLint lint = lintScript(*bytes);
    m_result.text += "  " + std::string(console::ResponseFile) + ": " + std::to_string(lint.items.size())
                     + " item(s)\n";
    for (std::size_t k = 0; k < lint.items.size(); ++k) {
        const LintItem &item = lint.items[k];
        m_result.text += "    " + std::to_string(k + 1) + "  at " + console::doubleText(double(k + 1) * m_delay)
                         + " s  line " + std::to_string(item.line) + "  \"" + visibleText(item.bytes, true)
                         + "\"\n";
    }
    m_result.text += "  planned length: " + console::doubleText(double(lint.items.size()) * m_delay)
                     + " s, then the close\n";
    for (const LintWarning &warning : lint.warnings)
        warn(file, warning.line, warning.text);
}

void RouterLint::expectations()
{
    const std::string file = path(ExpectFileName);
    std::optional<std::string> bytes;
    if (!load(file, bytes))
        return;
    if (!bytes)
        return;
    try {
        const ExpectFile expect = ExpectFile::parse(*bytes, file);
        m_result.text += "  " + std::string(ExpectFileName) + ": " + std::to_string(expect.size())
                         + " line(s) each session must type\n";
    } catch (const ExpectError &error) {
        // "FILE:LINE: reason", the same words zentrel-serve refuses to start with.
        const std::string what = error.what();
        const auto colon = what.find(": ", file.size() + 1);
        m_result.text += what.substr(0, colon) + ": error: " + what.substr(colon + 2)
                         + "; zentrel-serve would not start\n";
        m_result.status = 2;
    }
}

} // namespace

int lintCommand(const std::vector<std::string> &dirs)
{
    platform::PosixProfile profile;
    const LintResult result = lintRouters(dirs, profile);
    std::fputs(result.text.c_str(), stdout);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "zentrel-serve: --lint: cannot write the output: %s\n", std::strerror(errno));
        return 2;
    }
    return result.status;
}

LintResult lintRouters(const std::vector<std::string> &dirs, platform::Profile &profile)
{
    LintResult result;
    for (const std::string &dir : dirs)
        RouterLint(dir, profile, result).run();
    return result;
}

} // namespace zentrel::serve
