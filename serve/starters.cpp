// starters.cpp: the starter routers shipped with Zentrel, found by name.
#include "serve/starters.h"
#include "serve/options.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zentrel::serve {

namespace fs = std::filesystem;

namespace {

// A starter's description: the first line of its commands.yaml when that is
// a comment "# NAME: what it is".
std::string describe(const fs::path &yaml, const std::string &name)
{
    std::ifstream in(yaml);
    std::string line;
    if (!std::getline(in, line) || !line.starts_with("#"))
        return {};
    line.erase(0, line.find_first_not_of("# "));
    if (line.starts_with(name + ":"))
        line.erase(0, line.find_first_not_of(' ', name.size() + 1));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

std::string startersFolder()
{
    if (const char *given = std::getenv("ZENTREL_STARTERS"); given && *given)
        return given;
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        // BINDIR/../share, and share beside the program for a flat tree (the
        // image's programs sit at its root, whose .. is itself).
        for (const fs::path &installed : {exe.parent_path() / ".." / "share" / "zentrel" / "routers",
                                          exe.parent_path() / "share" / "zentrel" / "routers"})
            if (fs::is_directory(installed, error))
                return installed.lexically_normal().string();
    }
#ifdef ZENTREL_SOURCE_ROUTERS
    return ZENTREL_SOURCE_ROUTERS;
#else
    return exe.parent_path().parent_path().string() + "/share/zentrel/routers";
#endif
}

std::vector<Starter> listStarters(const std::string &folder)
{
    std::vector<Starter> starters;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path yaml = it->path() / "commands.yaml";
        std::error_code ignored;
        if (!fs::is_regular_file(yaml, ignored))
            continue;
        const std::string name = it->path().filename().string();
        starters.push_back({name, describe(yaml, name), it->path().string()});
    }
    std::sort(starters.begin(), starters.end(),
              [](const Starter &a, const Starter &b) { return a.name < b.name; });
    return starters;
}

std::string starterDir(const std::string &name)
{
    const std::string folder = startersFolder();
    const std::vector<Starter> starters = listStarters(folder);
    for (const Starter &starter : starters)
        if (starter.name == name)
            return starter.dir;
    std::string names;
    for (const Starter &starter : starters)
        names += (names.empty() ? "" : ", ") + starter.name;
    if (names.empty())
        throw UsageError("--router " + name + ": no starter routers in " + folder
                         + " (ZENTREL_STARTERS names another folder)");
    throw UsageError("--router " + name + ": no starter of that name; the starters are " + names);
}

std::string startersText()
{
    const std::string folder = startersFolder();
    const std::vector<Starter> starters = listStarters(folder);
    if (starters.empty())
        throw UsageError("no starter routers in " + folder + " (ZENTREL_STARTERS names another folder)");
    std::size_t width = 0;
    for (const Starter &starter : starters)
        width = std::max(width, starter.name.size());
    std::string text;
    for (const Starter &starter : starters)
        text += starter.name + std::string(width + 2 - starter.name.size(), ' ') + starter.description + "\n";
    return text;
}

} // namespace zentrel::serve
