// fleet.h: every router of one zentrel-serve run: their listeners, sessions and the way the run ends.
#pragma once
#include "console/router.h"
#include "serve/events.h"
#include "serve/fleet_plan.h"
#include "serve/script_cache.h"
#include "ssh/host_key.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace zentrel::platform {
class PosixLoop;
class TcpListener;
} // namespace zentrel::platform

namespace zentrel::serve {

// A router whose port cannot be opened; nothing of the fleet listens.
class StartError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Observes its own routers' sessions (add it to the observers the routers
// report to) to count ended connections for --connections.
class Fleet : public console::SessionObserver
{
public:
    struct Setup {
        std::string address;                       // --listen
        std::size_t sessions = 1;                  // --sessions
        std::optional<std::uint64_t> connections;  // --connections
    };

    Fleet(platform::PosixLoop &loop, EventLog &log, console::SessionObserver &observer, Setup setup,
          std::vector<RouterPlan> plans);
    ~Fleet() override;

    // Reads every SSH router's host key (warning about one that others can
    // read); throws StartError naming the router and the file. Before
    // start(), which otherwise reads them itself.
    void loadHostKeys();
    // Opens every router's port and only then starts accepting, so that a
    // run either serves every router or none. Throws StartError naming the
    // router, the port and the reason, with every port closed again.
    void start();
    // Stops listening and ends every session (no further item is sent).
    void stop();
    // Called once, from the loop, when every router has stopped listening
    // and has no session left: after stop(), or after --connections.
    std::function<void()> onDone;

    std::size_t size() const { return m_routers.size(); }
    // The Telnet port a router listens on; 0 before start() or for no such router.
    int port(const std::string &router) const;
    std::size_t activeSessions() const;

    void sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end) override;

private:
    struct Member;

    void listenForSsh(Member &member);
    const ssh::HostKey &hostKey(const std::string &path);
    void stopListening(Member &member);
    void checkFinished(Member &member);
    void sweep();

    platform::PosixLoop &m_loop;
    EventLog &m_log;
    console::SessionObserver &m_observer;
    Setup m_setup;
    ScriptCache m_scripts;
    std::map<std::string, ssh::HostKey> m_hostKeys;   // by file; "" for the one made for this run
    std::vector<std::unique_ptr<Member>> m_routers;
    std::unordered_map<std::string, Member *> m_byName;
    std::size_t m_finished = 0;
    std::uint64_t m_sweep = 0;
    bool m_doneReported = false;
};

} // namespace zentrel::serve
