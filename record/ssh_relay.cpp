// ssh_relay.cpp: one SSH client's shell relayed to the real router's shell over a second SSH connection.
#include "record/ssh_relay.h"

#include "console/connection.h"

namespace zentrel::record {

SshRelay::SshRelay(platform::PosixLoop &loop, std::unique_ptr<ssh::SshConnection> client,
                   SshRouter::Login login, Events events)
    : m_loop(loop), m_client(std::move(client)), m_login(std::move(login)), m_events(std::move(events))
{
}

SshRelay::~SshRelay()
{
    if (m_hearOut)
        m_loop.cancel(m_hearOut);
    if (m_router)
        m_router->close();
}

void SshRelay::start()
{
    const ssh::SshPeer &peer = m_client->ssh();
    if (m_login.user.empty())
        m_login.user = peer.user();
    if (m_login.password.empty())
        m_login.password = peer.password();
    m_login.pty = peer.hasPty();
    m_login.term = peer.terminal().type;
    m_login.cols = peer.terminal().cols;
    m_login.rows = peer.terminal().rows;

    console::Connection::Events client;
    client.data = [this](std::string_view bytes) { fromClient(bytes); };
    client.gone = [this] { clientLeft(); };
    client.ended = [this] { clientLeft(); };
    client.drained = [this] {
        if (m_router)
            m_router->holdOutput(false);
    };
    m_client->setEvents(std::move(client));
    m_client->onResize([this](const ssh::SshPeer::Terminal &terminal) {
        if (m_router)
            m_router->resize(terminal.cols, terminal.rows);
    });

    SshRouter::Events router;
    router.opened = [this] {
        m_opened = true;
        if (m_events.connected)
            m_events.connected();
        if (!m_early.empty() && !m_done)
            fromClient(std::exchange(m_early, {}));
    };
    router.data = [this](std::string_view bytes) {
        if (m_events.fromRouter)
            m_events.fromRouter(m_loop.now(), bytes);
        m_client->send(bytes);
        if (m_client->queued() > console::Connection::HighWater)
            m_router->holdOutput(true);
    };
    router.ended = [this](const std::string &why, bool failure) {
        // The client hears why its shell ends before it was ever the router's.
        if (failure && !m_clientLeft)
            m_client->send("\r\nzentrel-record: " + why + "\r\n");
        finish(m_clientLeft ? "the client closed the connection" : why, failure && !m_opened);
    };
    router.notice = [this](const std::string &text) {
        if (m_events.notice)
            m_events.notice(text);
    };
    m_router = std::make_unique<SshRouter>(m_loop, m_login, std::move(router));
    m_router->start();
}

void SshRelay::fromClient(std::string_view bytes)
{
    if (m_done)
        return;
    if (!m_opened) {
        if (m_early.size() + bytes.size() > EarlyLimit) {
            stop("the client typed more than 64 KiB before the router's shell opened");
            return;
        }
        m_early.append(bytes);
        return;
    }
    if (m_events.fromClient)
        m_events.fromClient(m_loop.now(), bytes);
    m_router->send(bytes);
}

void SshRelay::clientLeft()
{
    if (m_done || m_clientLeft)
        return;
    m_clientLeft = true;
    if (!m_opened) {
        finish("the client closed the connection", false);
        return;
    }
    m_router->sendEof();
    m_hearOut = m_loop.at(m_loop.now() + HearOut, [this] {
        m_hearOut = 0;
        finish("the client closed the connection", false);
    });
}

void SshRelay::stop(const std::string &why)
{
    finish(why, false);
}

void SshRelay::finish(const std::string &why, bool failure)
{
    if (m_done)
        return;
    m_done = true;
    if (m_hearOut)
        m_loop.cancel(std::exchange(m_hearOut, 0));
    if (m_router)
        m_router->close();
    m_client->close();   // what was queued for the client still goes out
    if (auto ended = std::move(m_events.ended)) {
        m_events = {};
        ended(why, failure);
    }
}

} // namespace zentrel::record
