// session_relay.h: one recorded client and its router, whatever carries them (Telnet's TCP or SSH).
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace zentrel::record {

class SessionRelay
{
public:
    struct Events {
        std::function<void()> connected;                                  // the router accepted
        std::function<void(double time, std::string_view bytes)> fromClient;
        std::function<void(double time, std::string_view bytes)> fromRouter;
        // Once, after both sides are closed; `failure` tells a session that
        // never reached the router. Never called from inside start().
        // The relay is still in use while this runs: destroy it later (post).
        std::function<void(const std::string &why, bool failure)> ended;
        // A line for the operator that ends nothing.
        std::function<void(const std::string &text)> notice;
    };

    virtual ~SessionRelay() = default;
    // Ends the session at once; what is still queued is dropped.
    virtual void stop(const std::string &why) = 0;
    virtual bool done() const = 0;
};

} // namespace zentrel::record
