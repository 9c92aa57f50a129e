// ssh_relay.h: one SSH client's shell relayed to the real router's shell over a second SSH connection.
#pragma once
#include "platform/posix/posix_loop.h"
#include "record/session_relay.h"
#include "record/ssh_router.h"
#include "ssh/ssh_connection.h"

#include <memory>
#include <string>

namespace zentrel::record {

// The client's SSH ends here, with the recorder's host key and any login; the
// router is logged in to with the client's user name and password (or the
// ones the login names), with the client's terminal, and the two shells'
// bytes are copied both ways unchanged.
class SshRelay : public SessionRelay
{
public:
    // Typed before the router's shell opened, and held for it.
    static constexpr std::size_t EarlyLimit = 64 * 1024;
    // A client that leaves right after its last line still gets that line's
    // answer recorded: the router hears EOF and has this long to close.
    static constexpr double HearOut = 2;

    SshRelay(platform::PosixLoop &loop, std::unique_ptr<ssh::SshConnection> client,
             SshRouter::Login login, Events events);
    ~SshRelay() override;

    // The client's terminal and login fill what `login` left empty.
    void start();
    void stop(const std::string &why) override;
    bool done() const override { return m_done; }

private:
    void fromClient(std::string_view bytes);
    void clientLeft();
    void finish(const std::string &why, bool failure);

    platform::PosixLoop &m_loop;
    std::unique_ptr<ssh::SshConnection> m_client;
    std::unique_ptr<SshRouter> m_router;
    SshRouter::Login m_login;
    Events m_events;
    std::string m_early;
    platform::EventLoop::TimerId m_hearOut = 0;
    bool m_opened = false;
    bool m_clientLeft = false;
    bool m_done = false;
};

} // namespace zentrel::record
