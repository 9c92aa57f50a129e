// exit_status.h: what zentrel-serve's exit status tells the job that ran it.
#pragma once

namespace zentrel::serve {

enum ExitStatus : int {
    ExitOk = 0,         // every router started and the run ended as asked
    ExitFailed = 1,     // the run ended, but a session failed what it was checked against
    ExitUsage = 2,      // a usage error, or a router that could not start (none was started)
    ExitTimedOut = 124, // --timeout ran out; wins over ExitFailed
};

} // namespace zentrel::serve
