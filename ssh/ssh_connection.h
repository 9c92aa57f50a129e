// ssh_connection.h: an SSH client's channel as the router's sessions see it.
#pragma once
#include "console/connection.h"
#include "ssh/ssh_peer.h"

#include <memory>

namespace zentrel::ssh {

// Letting go of it closes the channel; the peer itself stays until the
// client has read what was queued.
class SshConnection : public console::Connection
{
public:
    explicit SshConnection(std::shared_ptr<SshPeer> peer) : m_peer(std::move(peer)) {}
    ~SshConnection() override { m_peer->detach(); }

    void setEvents(Events events) override { m_peer->setEvents(std::move(events)); }
    void send(std::string_view bytes) override { m_peer->send(bytes); }
    std::size_t queued() const override { return m_peer->queued(); }
    bool isGone() const override { return m_peer->isGone(); }
    void close() override { m_peer->close(); }
    std::string peer() const override { return m_peer->peer(); }
    console::TerminalRequest terminal() const override
    {
        console::TerminalRequest request;
        request.exec = m_peer->isExec();
        if (m_peer->hasPty())
            request.rows = m_peer->terminal().rows;
        return request;
    }

    const SshPeer &ssh() const { return *m_peer; }
    void onResize(std::function<void(const SshPeer::Terminal &)> resized) { m_peer->onResize(std::move(resized)); }

private:
    std::shared_ptr<SshPeer> m_peer;
};

} // namespace zentrel::ssh
