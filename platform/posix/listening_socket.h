// listening_socket.h: the one rule by which every port of ours is bound, Telnet and SSH alike.
#pragma once
#include <string>

namespace zentrel::platform {

struct ListeningSocket {
    int fd = -1;           // non-blocking, close-on-exec, listening
    int port = 0;          // as bound: the free port the system picked for 0
    std::string address;   // as bound, "127.0.0.1", "::1"
};

// Binds `address` (an IPv4 or IPv6 literal, "[::1]" too) and `port` (0: a
// free one) with SO_REUSEADDR, and listens. An IPv6 socket is left as the
// system sets it up (on Linux, by default, `::` takes IPv4 clients too and
// an IPv4-mapped address such as ::ffff:127.0.0.1 takes that IPv4 address's).
// Throws Error InvalidPropertyValue "cannot <purpose> on ADDRESS port PORT:
// why", with nothing left open. With `inUse`, a port in use sets it instead
// and returns no socket (fd -1).
ListeningSocket listenOn(const std::string &address, int port, const std::string &purpose = "listen",
                         bool *inUse = nullptr);

} // namespace zentrel::platform
