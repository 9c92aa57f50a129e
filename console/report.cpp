// report.cpp: failures the engine contains, told on stderr so they are never silent.
#include "console/report.h"

#include <cstdio>
#include <string>

namespace zentrel::console {

void report(std::string_view text)
{
    std::string line = "zentrel: ";
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace zentrel::console
