// fleet_client.h: many loopback connections from one thread, each stream timed and checked byte for byte.
#pragma once
#include "script.h"
#include "stream_client.h"

#include <functional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace zentrel::bench {

// A numeric endpoint as connect() takes it.
struct Address
{
    sockaddr_storage storage{};
    socklen_t length = 0;
};
// False for a host that is no numeric IPv4 or IPv6 address.
bool resolve(const Endpoint &endpoint, Address &address);

// How a drain of a non-blocking socket ended.
enum class Received { WouldBlock, Closed, Failed, Stopped };
// recv() until the kernel has nothing more for now, each chunk handed to
// `chunk` with the time it came; `chunk` returning false stops there
// (Stopped). A failure leaves its errno.
Received receiveAvailable(int fd, std::vector<char> &buffer,
                          const std::function<bool(const char *data, std::size_t size, double at)> &chunk);
// The same with each chunk's arrival as well: when the kernel queued its last
// segment for the socket (SO_TIMESTAMPNS set on it), in the bench's clock;
// NaN without a stamp. `offset`: realtimeOffset().
Received receiveStamped(int fd, std::vector<char> &buffer, double offset,
                        const std::function<bool(const char *data, std::size_t size, double at, double arrived)> &chunk);
double realtimeOffset();
// Each endpoint's address, in order; false (and a problem told) at the first bad one.
bool resolveAll(const std::vector<Endpoint> &endpoints, std::vector<Address> &addresses,
                std::vector<std::string> &problems);

struct FleetPlan
{
    std::vector<Endpoint> endpoints;   // one per router
    // Sessions mode: `perEndpoint` connections to every endpoint, all open at
    // once, their connects spread evenly over `spread` seconds and taken
    // round the routers, so the items do not all fall due in the same instant.
    int perEndpoint = 1;
    double spread = 0;
    // Rate mode (total > 0): `inFlight` connections open at a time, a new one
    // as soon as one ends, round the routers, until `total` were made.
    int total = 0;
    int inFlight = 0;
    double timeout = 30;              // for the whole run
    bool wantArrivals = false;
};

struct FleetConnection
{
    int endpoint = 0;
    int localPort = 0;
    double dialled = 0;               // connect() called: no server can have accepted before
    double connected = 0;             // connect() done (seen by the client)
    double ended = 0;
    std::vector<double> arrivals;     // last byte of each item, when asked for
    bool exact = false;
};

struct FleetResult
{
    // Sessions mode keeps every connection; rate mode keeps none, only counts.
    std::vector<FleetConnection> connections;
    int made = 0;
    int exact = 0;
    int wrong = 0;
    std::vector<std::string> problems;   // the first few wrong streams, spelled out
    double started = 0;
    double finished = 0;
    bool timedOut = false;
};

// Runs the plan to its end (every stream closed by the server) or its timeout.
FleetResult runFleet(const FleetPlan &plan, const Script &script);

// Raises the soft descriptor limit to the hard one; the new soft limit.
long raiseDescriptorLimit();

} // namespace zentrel::bench
