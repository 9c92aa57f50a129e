// fleet_plan.h: the routers a command line asks for: names, directories, ports and pauses.
#pragma once
#include "console/faults.h"
#include "console/pace.h"
#include "serve/options.h"

#include <string>
#include <vector>

namespace zentrel::serve {

struct RouterPlan {
    std::string name;        // the directory's own name, or NAME-k with --copies
    std::string dir;         // absolute
    std::string scriptPath;  // dir/RESPONSE.TXT
    int port = 0;            // 0: a free port from the system
    double delay = 0;        // seconds before each item
    bool scriptMissing = false;
    bool commandDriven = false;  // dir/commands.yaml exists: it answers, RESPONSE.TXT is not played

    int sshPort = -1;        // -1: no SSH; 0: a free port
    std::string sshUser;     // empty: any account
    std::string sshPassword;
    std::string hostKeyPath; // empty: the key made for this run
    bool echoTelnet = false;
    bool echoSsh = true;
    console::Pace pace = console::Pace::Clock;
    bool mismatchClose = false;   // Mismatch=Close
    console::Faults faults;       // the router's, with --seed
};

// Reads every DIR's settings file (never writes it) and lays out the
// routers in command-line order. Throws UsageError for a DIR that is not a
// directory, a port that is not 1..65535 (after --port and the consecutive
// ports of copies), and two routers of the same name; the same for SSH
// ports, and for an Echo or Pace that is not one of its words.
std::vector<RouterPlan> planRouters(const Options &options);

} // namespace zentrel::serve
