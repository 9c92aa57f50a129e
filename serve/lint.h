// lint.h: zentrel-serve --lint, what each router would do, and what in its files may not mean what it seems.
#pragma once
#include "platform/profile.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::serve {

struct LintResult {
    std::string text;   // for stdout; warnings are in it too, each with file:line
    int status = 0;     // 0 clean, 1 warnings, 2 a file or directory cannot be read
};

// Reads each router directory's zentrel.ini (through `profile`, as the
// routers read it), RESPONSE.TXT and EXPECT.TXT; listens on nothing.
LintResult lintRouters(const std::vector<std::string> &dirs, platform::Profile &profile);

// The items of a script as the item reader splits it, with what a person
// should know about each. Exposed for the tests.
struct LintItem {
    std::string bytes;
    std::size_t line = 0;   // where it starts, from 1
};
struct LintWarning {
    std::size_t line = 0;
    std::string text;
};
struct ScriptLint {
    std::vector<LintItem> items;
    std::vector<LintWarning> warnings;   // in line order
};
ScriptLint lintScript(std::string_view bytes);

} // namespace zentrel::serve
