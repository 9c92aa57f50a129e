// stand_in.h: a stand-in for Zentrel, used only to prove that the bench's checks catch faults.
#pragma once
#include <string>
#include <vector>

namespace zentrel::bench {

// Faults in the bytes the stand-in can make on purpose. Three more modes keep
// the bytes exact: "exact", "late" (every pause 5 ms too long) and
// "wake-early" (sleeps to 0.25 ms before each deadline and spins the rest).
const std::vector<std::string> &standInFaults();

// Serves RESPONSE.TXT of the current directory on the port of zentrel.ini,
// pausing Delay seconds before each item, until SIGTERM. Reads the script
// with a reader of its own, written from the item rules, so a script the
// bench wrote wrongly shows up as a mismatch too. Returns the exit status.
int runStandIn(const std::string &fault);

} // namespace zentrel::bench
