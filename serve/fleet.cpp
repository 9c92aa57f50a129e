// fleet.cpp: every router of one zentrel-serve run: their listeners, sessions and the way the run ends.
#include "serve/fleet.h"

#include "app/version.h"
#include "platform/error.h"
#include "platform/posix/posix_loop.h"
#include "platform/posix/tcp_connection.h"
#include "platform/posix/tcp_listener.h"
#include "serve/command_router.h"
#include "ssh/ssh_listener.h"

#include <utility>

namespace zentrel::serve {

struct Fleet::Member {
    RouterPlan plan;
    std::unique_ptr<console::Router> router;
    std::unique_ptr<platform::TcpListener> listener;
    std::unique_ptr<ssh::SshListener> sshListener;
    const ssh::HostKey *hostKey = nullptr;
    CommandRouter *commands = nullptr;   // null: the router plays its script
    std::uint64_t ended = 0;
};

Fleet::Fleet(platform::PosixLoop &loop, EventLog &log, const Observers &observers, Setup setup,
             std::vector<RouterPlan> plans, const Commands &commands)
    : m_loop(loop), m_log(log), m_setup(std::move(setup))
{
    for (RouterPlan &plan : plans) {
        auto member = std::make_unique<Member>();
        member->plan = std::move(plan);
        console::RouterSetup routerSetup;
        routerSetup.name = member->plan.name;
        routerSetup.maxSessions = m_setup.sessions;
        routerSetup.delay = [delay = member->plan.delay] { return delay; };
        routerSetup.pace = member->plan.pace;
        routerSetup.faults = member->plan.faults;
        routerSetup.script = [this, path = member->plan.scriptPath] { return m_scripts.get(path); };
        member->commands = commands ? commands(member->plan) : nullptr;
        if (CommandRouter *router = member->commands) {
            routerSetup.dialogue = [router](const console::SessionInfo &info, console::Carrier carrier,
                                            const console::TerminalRequest &terminal) {
                return router->dialogue(info, carrier, terminal);
            };
            // commands.yaml's faults and messages; its jitter before zentrel.ini's.
            routerSetup.faults.schedule = router->model().schedule;
            if (router->model().jitter)
                routerSetup.faults.jitter = *router->model().jitter;
        }
        Member *raw = member.get();
        routerSetup.sessionEnded = [this, raw] { sessionEnded(*raw); };
        routerSetup.idle = [this, raw] { stopped(*raw); };
        member->router = std::make_unique<console::Router>(m_loop, observers(member->plan), std::move(routerSetup));
        m_routers.push_back(std::move(member));
    }
}

// Sessions end before their listeners close, so no accept reaches a router
// that is being destroyed.
Fleet::~Fleet()
{
    for (auto &member : m_routers) {
        member->listener.reset();
        member->sshListener.reset();
    }
    for (auto &member : m_routers)
        member->router.reset();
}

void Fleet::start()
{
    // Every port is taken before any is served: the listeners stay paused
    // until the last one has bound.
    for (auto &member : m_routers) {
        console::Router *router = member->router.get();
        auto accepted = [this, router, echo = member->plan.echoTelnet](int fd, std::string peer) {
            router->connected(std::make_unique<platform::TcpConnection>(m_loop, fd, peer), std::move(peer),
                              {console::Carrier::Telnet, echo});
        };
        try {
            member->listener = listenForTelnet(member->plan.port, std::move(accepted));
            member->listener->pause();
            if (member->plan.sshPort >= 0)
                listenForSsh(*member);
        } catch (const platform::Error &error) {
            for (auto &opened : m_routers) {
                opened->listener.reset();
                opened->sshListener.reset();
            }
            // The listener's text names the address, the port and the reason.
            throw StartError("router '" + member->plan.name + "': " + error.what());
        }
        const std::string name = member->plan.name;
        member->listener->setReport([this, name](const std::string &text) {
            console::SessionInfo info;
            info.router = name;
            m_log.warning(info, text);
        });
    }
    for (auto &member : m_routers) {
        member->listener->resume();
        m_log.listening(member->plan.name, m_setup.address, member->listener->port());
        if (member->sshListener)
            m_log.listening(member->plan.name, m_setup.address, member->sshListener->port(), "ssh",
                            member->hostKey->fingerprint());
    }
    m_log.ready();
}

// Free ports as a block: the system's choice for the first, then the ports
// after it, each confirmed by its bind; a run of ports in use, or the end of
// the range, asks the system again.
std::unique_ptr<platform::TcpListener> Fleet::listenForTelnet(int port, platform::TcpListener::Accepted accepted)
{
    constexpr int Tries = 64;
    if (port != 0)
        return std::make_unique<platform::TcpListener>(m_loop, m_setup.address, port, std::move(accepted));
    for (int tried = 0; m_nextFree > 0 && m_nextFree <= 65535 && tried < Tries; ++tried) {
        bool inUse = false;
        auto listener = std::make_unique<platform::TcpListener>(m_loop, m_setup.address, m_nextFree++, accepted,
                                                                &inUse);
        if (!inUse)
            return listener;
    }
    auto listener = std::make_unique<platform::TcpListener>(m_loop, m_setup.address, 0, std::move(accepted));
    m_nextFree = listener->port() + 1;
    return listener;
}

void Fleet::loadHostKeys()
{
    for (auto &member : m_routers) {
        if (member->plan.sshPort < 0)
            continue;
        const bool first = m_hostKeys.count(member->plan.hostKeyPath) == 0;
        try {
            member->hostKey = &hostKey(member->plan.hostKeyPath);
        } catch (const platform::Error &error) {
            throw StartError("router '" + member->plan.name + "': " + error.what());
        }
        if (first && !member->hostKey->warning().empty()) {
            console::SessionInfo info;
            info.router = member->plan.name;
            m_log.warning(info, member->hostKey->warning());
        }
    }
}

const ssh::HostKey &Fleet::hostKey(const std::string &path)
{
    auto found = m_hostKeys.find(path);
    if (found == m_hostKeys.end())
        found = m_hostKeys.emplace(path, path.empty() ? ssh::HostKey::generate()
                                                      : ssh::HostKey::fromFile(path)).first;
    return found->second;
}

// Login runs on the listener's side; only a client with an open shell or
// exec channel reaches the router and takes one of its sessions.
void Fleet::listenForSsh(Member &member)
{
    if (!member.hostKey)
        member.hostKey = &hostKey(member.plan.hostKeyPath);
    ssh::SshSetup setup;
    setup.address = m_setup.address;
    setup.port = member.plan.sshPort;
    setup.account = {member.plan.sshUser, member.plan.sshPassword, {}};
    // SSH-User wins over the users of commands.yaml.
    if (CommandRouter *commands = member.commands)
        setup.account.check = [commands](std::string_view user, std::string_view password) {
            return commands->lets(user, password);
        };
    setup.hostKey = member.hostKey;
    setup.version = app::Version;
    console::Router *router = member.router.get();
    ssh::SshListener::Events events;
    events.connected = [router, echo = member.plan.echoSsh](std::unique_ptr<ssh::SshConnection> ssh,
                                                            std::string peer) {
        // An exec request is not typed at a prompt, so nothing of it comes back.
        const bool echoes = echo && !ssh->ssh().isExec();
        std::string user = ssh->ssh().user();
        router->connected(std::move(ssh), std::move(peer), {console::Carrier::Ssh, echoes}, std::move(user));
    };
    events.failed = [this, router, name = member.plan.name](const std::string &peer, bool authFailed,
                                                            const std::string &why) {
        if (authFailed) {
            router->refused(peer, console::EndReason::AuthFailed, why);
            return;
        }
        console::SessionInfo info;
        info.router = name;
        info.peer = peer;
        m_log.warning(info, "SSH client " + peer + ": " + why);
    };
    member.sshListener = std::make_unique<ssh::SshListener>(m_loop, std::move(setup), std::move(events));
    member.sshListener->listen();
}

void Fleet::stop()
{
    for (auto &member : m_routers) {
        member->listener.reset();
        member->sshListener.reset();
        member->router->stop();
    }
}

int Fleet::port(std::size_t router) const
{
    return router < m_routers.size() && m_routers[router]->listener ? m_routers[router]->listener->port() : 0;
}

void Fleet::sessionEnded(Member &member)
{
    ++member.ended;
    if (m_setup.connections && member.ended >= *m_setup.connections
        && (member.listener || member.sshListener))
        stopListening(member);
}

void Fleet::stopListening(Member &member)
{
    // Clients already accepted still get their turn: none is refused or lost
    // once it has been let in.
    member.listener.reset();
    member.sshListener.reset();
    member.router->retire();
}

void Fleet::stopped(Member &member)
{
    m_log.routerStopped(member.plan.name);
    if (++m_stopped == m_routers.size() && onDone)
        onDone();
}

} // namespace zentrel::serve
