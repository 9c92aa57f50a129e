// ssh_listener.cpp: a router's SSH port: accepts clients and hands each opened shell to the router.
#include "ssh/ssh_listener.h"

#include "platform/error.h"
#include "platform/posix/listening_socket.h"

#include <libssh/server.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrel::ssh {

namespace {

// Out of descriptors: how long the listener rests before it tries again, so
// that a level-triggered loop does not spin on a client it cannot take.
constexpr double AcceptPause = 0.1;

std::string peerName(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

} // namespace

SshListener::SshListener(platform::PosixLoop &loop, SshSetup setup, Events events)
    : m_loop(loop), m_setup(std::move(setup)), m_events(std::move(events))
{
}

// Clients still logging in go with it; opened channels live on with their routers.
SshListener::~SshListener()
{
    stop();
    if (m_bind)
        ssh_bind_free(static_cast<ssh_bind>(m_bind));
}

void SshListener::listen()
{
    const std::string where = m_setup.address + " port " + std::to_string(m_setup.port);
    auto refuse = [&](const std::string &why) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        throw platform::Error(platform::InvalidPropertyValue, "cannot listen for SSH on " + where + ": " + why);
    };
    if (!m_setup.hostKey)
        refuse("no host key");

    ssh_bind bind = ssh_bind_new();
    if (!bind)
        refuse("libssh cannot make a listener");
    m_bind = bind;
    bool processConfig = false;   // the system's libssh server settings are not ours
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_PROCESS_CONFIG, &processConfig);
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_base64(m_setup.hostKey->privateBase64().c_str(), nullptr, nullptr,
                                      nullptr, &key) != SSH_OK)
        refuse("the host key cannot be loaded");
    if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_IMPORT_KEY, key) != SSH_OK) {   // takes the key
        ssh_key_free(key);
        refuse("the host key is refused");
    }
    const std::string banner = "Zentrel_" + m_setup.version;
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_BANNER, banner.c_str());

    // Bound by the same rule as the Telnet port beside it.
    const platform::ListeningSocket bound = platform::listenOn(m_setup.address, m_setup.port, "listen for SSH");
    m_fd = bound.fd;
    m_port = bound.port;
    m_loop.watch(m_fd, EPOLLIN, [this](std::uint32_t) { accept(); });
}

void SshListener::stop()
{
    // Freed from the loop: stop() may come from inside one of these peers' reports.
    // A peer that ended a moment ago has posted its finished report to this
    // listener: disowned, it reports nothing once the listener is gone.
    for (auto &entry : m_peers) {
        entry.second->abandon();
        entry.second->disown();
    }
    if (!m_peers.empty())
        m_loop.post([peers = std::move(m_peers)] {});
    m_peers.clear();
    if (m_resume)
        m_loop.cancel(m_resume);
    m_resume = 0;
    if (m_fd >= 0) {
        m_loop.unwatch(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
}

void SshListener::pauseAccepting()
{
    m_loop.modify(m_fd, 0);
    m_resume = m_loop.at(m_loop.now() + AcceptPause, [this] {
        m_resume = 0;
        if (m_fd >= 0)
            m_loop.modify(m_fd, EPOLLIN);
    });
}

void SshListener::accept()
{
    for (;;) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(m_fd, reinterpret_cast<sockaddr *>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pauseAccepting();
            return;   // EAGAIN, or a client that left before it was taken
        }
        // Key exchange and login are many small packets each way: without this,
        // delayed acknowledgements add tens of milliseconds to every one.
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        const std::string peer = peerName(address);
        ssh_session session = ssh_new();
        if (!session || ssh_bind_accept_fd(static_cast<ssh_bind>(m_bind), session, fd) != SSH_OK) {
            const std::string why = session ? ssh_get_error(static_cast<ssh_bind>(m_bind)) : "out of memory";
            if (session)
                ssh_free(session);
            ::close(fd);
            if (m_events.failed)
                m_events.failed(peer, false, "cannot start SSH: " + why);
            continue;
        }
        SshPeer::Hooks hooks;
        hooks.ready = [this](std::shared_ptr<SshPeer> ready) {
            SshPeer *raw = ready.get();
            const std::string name = ready->peer();
            auto connection = std::make_unique<SshConnection>(std::move(ready));
            m_peers.erase(raw);
            if (m_events.connected)
                m_events.connected(std::move(connection), name);
        };
        hooks.failed = [this](SshPeer *failed, bool authFailed, const std::string &why) {
            if (m_events.failed)
                m_events.failed(failed->peer(), authFailed, why);
        };
        hooks.finished = [this](SshPeer *finished) { m_peers.erase(finished); };
        auto owned = std::make_shared<SshPeer>(m_loop, session, m_setup.account, peer, std::move(hooks));
        SshPeer *raw = owned.get();
        m_peers.emplace(raw, std::move(owned));
        raw->start();
    }
}

} // namespace zentrel::ssh
