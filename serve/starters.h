// starters.h: the starter routers shipped with Zentrel, found by name.
#pragma once
#include <string>
#include <vector>

namespace zentrel::serve {

struct Starter {
    std::string name;         // the directory's name, e.g. cisco_ios
    std::string description;  // the first comment line of its commands.yaml, after "NAME: "
    std::string dir;
};

// Where the starters are: $ZENTREL_STARTERS when set, else share/zentrel/routers
// beside the program's prefix (<exe>/../share/zentrel/routers, or <exe>/share/...
// in a flat tree such as the image's root) when it exists, else the source
// tree's routers/ of an uninstalled build.
std::string startersFolder();

// The folder's subdirectories that hold commands.yaml, sorted by name.
std::vector<Starter> listStarters(const std::string &folder);

// The directory of the starter `name`; UsageError naming every starter when
// there is none of that name.
std::string starterDir(const std::string &name);

// What --routers prints: one starter a line, its name and description.
std::string startersText();

} // namespace zentrel::serve
