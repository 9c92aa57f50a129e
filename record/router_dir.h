// router_dir.h: the files of a recorded router directory, as zentrel-serve reads them.
#pragma once
#include "record/recording.h"

#include <string>
#include <vector>

namespace zentrel::record {

// The items one a line, quoted where the item reader needs it.
std::string responseText(const Recording &recording);
// The typed lines one a line; a password answer as ~.* unless kept, and a
// line that would read as a pattern or an escape (`~x`, `\~x`) escaped with
// one more backslash so that it is matched as it stands.
std::string expectText(const Recording &recording, bool keepSecrets);
// Where the recorder listened: the recording is played back there.
struct Listened {
    int port = 0;
    bool ssh = false;   // SSH-Port instead of TCP-Port
};
std::string settingsText(const Recording &recording, Listened listened);
// "12 items, 11 lines, Delay=0.5, Echo=Yes"
std::string summary(const Recording &recording);

// Creates the directory when needed and writes the three files and nothing
// else; false with `error` naming the file when one cannot be written.
bool writeRouterDir(const std::string &dir, const Recording &recording, Listened listened,
                    bool keepSecrets, std::string &error);
// The same for a command-driven router: commands.yaml and zentrel.ini (the
// port and Echo; the pace is the yaml's delay).
bool writeCommandsDir(const std::string &dir, const Recording &recording, const std::string &yaml,
                      Listened listened, std::string &error);

// What a finished session is written as.
struct OutputSetup {
    Listened listened;
    bool commands = false;      // commands.yaml instead of RESPONSE.TXT and EXPECT.TXT
    bool keepSecrets = false;
};
// Builds the recording of a finished session and writes its directory.
// `summary` is the line to print for it ("12 items, 11 lines, Delay=0.5,
// Echo=Yes", or "3 modes, 9 commands from 11 lines, ..."); `warnings` what
// the operator should be told, each a line starting "warning: " or naming a
// password line.
bool writeSession(const std::string &dir, const SessionLog &log, const OutputSetup &setup, std::string &summary,
                  std::vector<std::string> &warnings, std::string &error);

// Refuses a directory that exists and holds anything; `error` says why.
bool outputDirUsable(const std::string &dir, bool force, std::string &error);
// Makes the directory and its parents; false with `error` set.
bool makeDirs(const std::string &dir, std::string &error);

} // namespace zentrel::record
