// fleet.h: every router of one zentrel-serve run: their listeners, sessions and the way the run ends.
#pragma once
#include "console/router.h"
#include "platform/posix/tcp_listener.h"
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
#include <vector>

namespace zentrel::platform {
class PosixLoop;
} // namespace zentrel::platform

namespace zentrel::serve {

class CommandRouter;

// A router whose port cannot be opened; nothing of the fleet listens.
class StartError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Each router tells the fleet when one of its sessions has ended (for
// --connections) and once when it has stopped and holds nothing more.
class Fleet
{
public:
    struct Setup {
        std::string address;                       // --listen
        std::size_t sessions = 1;                  // --sessions
        std::optional<std::uint64_t> connections;  // --connections
    };
    // The observer a router's sessions report to.
    using Observers = std::function<console::SessionObserver &(const RouterPlan &plan)>;
    // The command-driven side of a router; null for one that plays its script.
    using Commands = std::function<CommandRouter *(const RouterPlan &plan)>;

    Fleet(platform::PosixLoop &loop, EventLog &log, const Observers &observers, Setup setup,
          std::vector<RouterPlan> plans, const Commands &commands = {});
    ~Fleet();

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
    // The Telnet port of the router made `router`th (from 0, as the plans came);
    // 0 before start().
    int port(std::size_t router) const;

private:
    struct Member;

    std::unique_ptr<platform::TcpListener> listenForTelnet(int port, platform::TcpListener::Accepted accepted);
    void listenForSsh(Member &member);
    const ssh::HostKey &hostKey(const std::string &path);
    void sessionEnded(Member &member);
    void stopListening(Member &member);
    void stopped(Member &member);

    platform::PosixLoop &m_loop;
    EventLog &m_log;
    Setup m_setup;
    ScriptCache m_scripts;
    std::map<std::string, ssh::HostKey> m_hostKeys;   // by file; "" for the one made for this run
    std::vector<std::unique_ptr<Member>> m_routers;
    std::size_t m_stopped = 0;
    int m_nextFree = 0;   // the next port to try for a router on port 0; 0: ask the system
};

} // namespace zentrel::serve
