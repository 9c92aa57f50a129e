// command_map.h: the command-driven router of the command phase: its commands.yaml and what each typed line must bring back.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace zentrel::bench {

// One mode of `commands` fixed commands of three words ("show gN xM"),
// each answered with a few lines of its own, at delay 0, no login and no
// motd. The file is written so that a plain reader can take it too: each
// command on a line of its own as `"command": {"answer": "text"}`.
struct CommandMap
{
    std::string yaml;                   // commands.yaml
    std::string prompt;                 // as the router sends it
    std::vector<std::string> lines;     // the command lines, as typed
    std::vector<std::string> replies;   // per line: its echo, its answer and the prompt, as they arrive

    // The echo of line i: the line and CR LF, before its answer.
    std::size_t echoSize(std::size_t i) const { return lines[i].size() + 2; }
};

CommandMap commandMap(int commands);

} // namespace zentrel::bench
