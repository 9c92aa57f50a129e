// ssh_listener.h: a router's SSH port: accepts clients and hands each opened shell to the router.
#pragma once
#include "ssh/host_key.h"
#include "ssh/ssh_connection.h"
#include "ssh/ssh_peer.h"
#include "platform/posix/posix_loop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace zentrel::ssh {

struct SshSetup {
    std::string address = "127.0.0.1";   // IPv4 or IPv6
    int port = 0;                        // 0: a free port
    SshAccount account;
    const HostKey *hostKey = nullptr;    // outlives the listener
    std::string version;                 // the banner is SSH-2.0-Zentrel_<version>
};

// Key exchange and login run on the listener's side, so a client that never
// logs in holds no session of the router and ends after 30 s on its own.
class SshListener
{
public:
    struct Events {
        // A logged-in client opened its shell or exec channel.
        std::function<void(std::unique_ptr<SshConnection> connection, std::string peer)> connected;
        // A client ended before that; `authFailed` after three failed logins.
        std::function<void(const std::string &peer, bool authFailed, const std::string &why)> failed;
    };

    SshListener(platform::PosixLoop &loop, SshSetup setup, Events events);
    ~SshListener();
    SshListener(const SshListener &) = delete;
    SshListener &operator=(const SshListener &) = delete;

    // Throws platform::Error (InvalidPropertyValue) saying why the port cannot be opened.
    void listen();
    // Stops accepting and drops the clients still logging in; opened channels
    // stay with their routers.
    void stop();
    int port() const { return m_port; }

private:
    void accept();
    void pauseAccepting();

    platform::PosixLoop &m_loop;
    SshSetup m_setup;
    Events m_events;
    void *m_bind = nullptr;   // ssh_bind
    int m_fd = -1;
    int m_port = 0;
    platform::EventLoop::TimerId m_resume = 0;
    std::unordered_map<SshPeer *, std::shared_ptr<SshPeer>> m_peers;
};

} // namespace zentrel::ssh
