// pattern_options.h: how commands.yaml's patterns are compiled: bytes as Latin-1, no logging, bounded memory.
#pragma once
#include <re2/re2.h>

namespace zentrel::console::commands {

// A typed line is bytes, so `.` takes any byte; RE2 reports a bad pattern
// to its caller instead of on stderr.
inline RE2::Options patternOptions()
{
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_log_errors(false);
    options.set_max_mem(32 << 20);
    return options;
}

} // namespace zentrel::console::commands
