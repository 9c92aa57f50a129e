// network.h: the window's listening port, and each client it hands over as a connection.
#pragma once
#include "console/connection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zentrel::platform {

// One port on every interface. Each client that connects is handed over at
// once, from the event loop, as a connection of its own ("address:port" for
// reports); the window's router decides whether it is served or waits. A
// client that shuts its sending side has left, as far as the window goes.
class Network
{
public:
    using Accepted = std::function<void(std::unique_ptr<console::Connection> connection, std::string peer)>;

    virtual ~Network() = default;

    virtual void setAccepted(Accepted accepted) = 0;
    // Throws Error InvalidPropertyValue (380) for a port the socket cannot
    // take: outside 0 to 65535, in use, or not allowed.
    virtual void listen(std::int32_t port) = 0;
    // Stops listening; the port is free again once this returns.
    virtual void close() = 0;
};

} // namespace zentrel::platform
