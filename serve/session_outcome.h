// session_outcome.h: how a session went, as its session-end event and stderr tell it.
#pragma once
#include "serve/expect_file.h"

#include <string>
#include <vector>

namespace zentrel::serve {

struct SessionOutcome {
    enum class Check { None, Pass, Fail } check = Check::None;
    std::vector<std::string> typed;
    bool typedCut = false;
    Verdict verdict;          // the first difference and diff, on a fail

    const char *verdictName() const;   // "none", "pass", "fail"
    // `,"typed":[...],"verdict":"..."` and, on a fail, `,"first_difference":
    // {"position":n,"expect_line":n,"expected":..,"typed":..}` (null for a
    // side with no line), to go inside the session-end object.
    std::string jsonFields() const;
};

} // namespace zentrel::serve
