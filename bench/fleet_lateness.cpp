// fleet_lateness.cpp: matches the client's streams with the server's sessions and times their items.
#include "fleet_lateness.h"

#include <cmath>

namespace zentrel::bench {

void SessionStarts::add(const ServerEvent &event)
{
    if (event.kind() != "session-start")
        return;
    const double time = event.number("time");
    const int port = peerPort(event.text("peer"));
    if (std::isfinite(time) && port > 0)
        m_starts[{event.text("router"), port}] = time - m_offset;
}

double SessionStarts::startOf(const std::string &router, int clientPort) const
{
    const auto it = m_starts.find({router, clientPort});
    return it == m_starts.end() ? std::nan("") : it->second;
}

Lateness measureLateness(const std::vector<FleetConnection> &connections,
                         const std::vector<std::string> &routerNames, const SessionStarts &starts,
                         double delay)
{
    Lateness lateness;
    for (const FleetConnection &connection : connections) {
        if (!connection.exact)
            continue;
        const std::size_t router = std::size_t(connection.endpoint);
        double start = router < routerNames.size()
            ? starts.startOf(routerNames[router], connection.localPort)
            : std::nan("");
        if (std::isfinite(start)) {
            lateness.acceptLagMs.push_back((start - connection.connected) * 1000);
        } else {
            start = connection.connected;
            ++lateness.unmatched;
        }
        for (std::size_t k = 0; k < connection.arrivals.size(); ++k)
            lateness.itemsMs.push_back((connection.arrivals[k] - (start + double(k + 1) * delay)) * 1000);
        if (!connection.arrivals.empty()) {
            lateness.firstItemsMs.push_back(lateness.itemsMs[lateness.itemsMs.size() - connection.arrivals.size()]);
            lateness.lastItemsMs.push_back(lateness.itemsMs.back());
        }
    }
    return lateness;
}

} // namespace zentrel::bench
