// fleet_lateness.h: how late each item of each session came, against the server's own accept.
#pragma once
#include "fleet_client.h"
#include "server_events.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zentrel::bench {

// When the server started each session, from its session-start events, on
// the bench's monotonic clock.
class SessionStarts
{
public:
    // `clockOffset`: the wall clock less the monotonic clock, taken once.
    explicit SessionStarts(double clockOffset) : m_offset(clockOffset) {}

    // Takes a session-start event; any other is left alone.
    void add(const ServerEvent &event);
    // NaN when no event named this client of this router.
    double startOf(const std::string &router, int clientPort) const;

private:
    double m_offset;
    std::map<std::pair<std::string, int>, double> m_starts;
};

struct Lateness
{
    std::vector<double> itemsMs;       // every item of every exact stream
    std::vector<double> firstItemsMs;  // each session's first item: the wake after the accept
    std::vector<double> lastItemsMs;   // and its last, with whatever drift the pauses added up
    std::vector<double> acceptLagMs;   // the server's accept less the client's connect
    int unmatched = 0;                 // sessions timed from the client's connect instead
};

// Item k (from 1) of a session is due k pauses after its start; a stream
// that was not exact is left out (it fails the run anyway).
Lateness measureLateness(const std::vector<FleetConnection> &connections,
                         const std::vector<std::string> &routerNames, const SessionStarts &starts,
                         double delay);

} // namespace zentrel::bench
