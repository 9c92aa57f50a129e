// commands_writer.h: a recorded session as a commands.yaml that answers its lines in any order.
#pragma once
#include "record/recording.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zentrel::record {

struct CommandsRecording {
    std::string yaml;                    // the text of commands.yaml
    std::size_t modes = 0;
    std::size_t commands = 0;
    std::vector<std::string> warnings;   // beside the recording's own
};

// The router of one recording, command-driven:
// - the login dialog from the start of the session (a Telnet session whose
//   first lines answer a user name and a password prompt; over SSH, `ssh`,
//   the login is SSH's own and there is none);
// - a mode per prompt the router showed, named after it: a line after which
//   a new prompt came is a command that enters that prompt's mode;
// - every other typed line a command of the mode it was typed in, answered
//   with what the router sent back, echo and prompt taken off; a line typed
//   more than once with differing answers gets them as `answers:` in order;
//   a line answered with a password prompt asks for one (`password: any`),
//   and the password itself is written nowhere;
// - a last line after which the router closed without a prompt closes;
// - `delay:` the recording's median answer time.
// When the answers end in no prompt, or in so many different texts that
// none tells a mode, it is one mode with an empty prompt whose answers hold
// all the router sent, and a warning says why.
CommandsRecording buildCommands(const Recording &recording, bool ssh);

} // namespace zentrel::record
