// ssh_peer.cpp: one SSH client: key exchange, login and its one channel, driven from the event loop.
#include "ssh/ssh_peer.h"
#include "ssh/channel_write.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zentrel::ssh {

namespace {

// After Zentrel closed the channel, how long the client gets to close its side.
constexpr double CloseGrace = 5;

} // namespace

SshPeer::SshPeer(platform::PosixLoop &loop, ssh_session session, SshAccount account,
                 std::string peer, Hooks hooks)
    : m_loop(loop), m_session(session), m_account(std::move(account)),
      m_peer(std::move(peer)), m_hooks(std::move(hooks))
{
    // Set before the key exchange: a login request can come in the same read as its end.
    ssh_callbacks_init(&m_serverCallbacks);
    m_serverCallbacks.userdata = this;
    m_serverCallbacks.auth_password_function = &SshPeer::onPassword;
    m_serverCallbacks.channel_open_request_session_function = &SshPeer::onChannelOpen;
    ssh_set_server_callbacks(m_session, &m_serverCallbacks);
    ssh_set_message_callback(m_session, &SshPeer::onMessage, this);
    ssh_set_auth_methods(m_session, SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);

    ssh_callbacks_init(&m_channelCallbacks);
    m_channelCallbacks.userdata = this;
    m_channelCallbacks.channel_data_function = &SshPeer::onData;
    m_channelCallbacks.channel_eof_function = &SshPeer::onEof;
    m_channelCallbacks.channel_close_function = &SshPeer::onClose;
    m_channelCallbacks.channel_pty_request_function = &SshPeer::onPty;
    m_channelCallbacks.channel_shell_request_function = &SshPeer::onShell;
    m_channelCallbacks.channel_exec_request_function = &SshPeer::onExec;
    m_channelCallbacks.channel_env_request_function = &SshPeer::onEnv;
    m_channelCallbacks.channel_pty_window_change_function = &SshPeer::onWindowChange;
}

SshPeer::~SshPeer()
{
    abandon();
}

void SshPeer::start()
{
    ssh_set_blocking(m_session, 0);
    m_watchFd = ::fcntl(ssh_get_fd(m_session), F_DUPFD_CLOEXEC, 0);
    if (m_watchFd < 0) {
        fail(false, std::string("cannot watch the socket: ") + std::strerror(errno));
        return;
    }
    m_timer = m_loop.at(m_loop.now() + HandshakeTimeout, [this] {
        m_timer = 0;
        fail(false, "no shell within 30 s of the connect");
    });
    watchSocket();
    onReady();
}

void SshPeer::abandon()
{
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    if (m_lingering)
        m_loop.doneLingering(std::exchange(m_lingering, 0));
    if (m_timer)
        m_loop.cancel(m_timer);
    m_timer = 0;
    releaseSocket();
    m_events = {};
    if (m_event) {
        ssh_event_remove_session(m_event, m_session);
        ssh_event_free(m_event);
        m_event = nullptr;
    }
    ssh_disconnect(m_session);   // closes the socket
    ssh_free(m_session);
    m_session = nullptr;
    m_channel = nullptr;
}

void SshPeer::end()
{
    if (m_state == State::Done)
        return;
    abandon();
    if (m_keepAlive) {
        // Released from the loop: this may be the last reference.
        m_loop.post([self = std::move(m_keepAlive)] {});
        return;
    }
    m_loop.post([weak = weak_from_this()] {
        if (const auto self = weak.lock(); self && self->m_hooks.finished)
            self->m_hooks.finished(self.get());
    });
}

void SshPeer::fail(bool authFailed, const std::string &why)
{
    if (m_state == State::Done)
        return;
    // A copy: the report may reach the owner's stop(), which disowns this peer.
    if (const auto failed = m_hooks.failed)
        failed(this, authFailed, why);
    end();
}

bool SshPeer::libsshClosed() const
{
    return ssh_get_fd(m_session) == SSH_INVALID_SOCKET;
}

void SshPeer::watchSocket()
{
    if (m_state == State::Done || m_watchFd < 0)
        return;
    // Once libssh has closed its side nothing more can come in or go out:
    // watching our duplicate further would only wake the loop for nothing.
    if (libsshClosed()) {
        releaseSocket();
        return;
    }
    std::uint32_t events = EPOLLIN;
    if (ssh_get_poll_flags(m_session) & SSH_WRITE_PENDING)
        events |= EPOLLOUT;
    if (!m_loop.watching(m_watchFd))
        m_loop.watch(m_watchFd, events, [this](std::uint32_t) { onReady(); });
    else
        m_loop.modify(m_watchFd, events);
}

void SshPeer::releaseSocket()
{
    if (m_watchFd < 0)
        return;
    m_loop.unwatch(m_watchFd);
    ::close(m_watchFd);
    m_watchFd = -1;
}

void SshPeer::onReady()
{
    if (m_state == State::Done)
        return;
    // Until the shell is open the client sends packets in pairs that it
    // holds back (Nagle) until the first is acknowledged, and we answer the
    // first with nothing: acknowledge at once instead of 40 ms later.
    // The kernel leaves quick-ack mode on its own, so it is asked afresh.
    if (m_state != State::Open && m_state != State::Closing) {
        const int on = 1;
        ::setsockopt(m_watchFd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    if (m_state == State::KeyExchange) {
        handshake();
        if (m_state == State::Done)
            return;
    }
    if (m_event && ssh_event_dopoll(m_event, 0) == SSH_ERROR && !(ssh_get_status(m_session) & SSH_CLOSED)) {
        // A malformed packet or a broken socket: libssh has given up on it.
        if (!m_handedOver) {
            fail(false, std::string("SSH error: ") + ssh_get_error(m_session));
            return;
        }
        m_gone = true;
    }
    afterPoll();
}

void SshPeer::handshake()
{
    const int rc = ssh_handle_key_exchange(m_session);
    if (rc == SSH_AGAIN)
        return;
    if (rc != SSH_OK) {
        fail(false, std::string("key exchange failed: ") + ssh_get_error(m_session));
        return;
    }
    m_state = State::Login;
    m_event = ssh_event_new();
    if (!m_event || ssh_event_add_session(m_event, m_session) != SSH_OK)
        fail(false, "cannot poll the SSH session");
}

void SshPeer::afterPoll()
{
    if (m_state == State::Done || m_state == State::KeyExchange) {
        watchSocket();
        return;
    }
    const bool closed = libsshClosed() || (ssh_get_status(m_session) & (SSH_CLOSED | SSH_CLOSED_ERROR));
    if (!m_handedOver) {
        if (m_authFailures >= MaxAuthFailures) {
            ssh_session_set_disconnect_message(m_session, "Too many authentication failures");
            fail(true, std::to_string(m_authFailures) + " failed logins as \"" + m_user + "\"");
            return;
        }
        if (closed) {
            fail(false, "left before a shell was opened");
            return;
        }
        if (!m_channelReady) {
            watchSocket();
            return;
        }
        m_handedOver = true;
        m_state = State::Open;
        m_keepAlive = shared_from_this();
        m_lingering = m_loop.linger([this] {
            const std::shared_ptr<SshPeer> self = std::move(m_keepAlive);
            abandon();
        });
        if (m_timer)
            m_loop.cancel(m_timer);
        m_timer = 0;
        // From here the peer answers to its connection only.
        const Hooks hooks = std::exchange(m_hooks, {});
        if (hooks.ready)
            hooks.ready(shared_from_this());
        if (m_state == State::Done)
            return;
    }
    if (closed)
        m_gone = true;
    flush();

    // A copy each time: the receiver may set other events from inside.
    if (!m_in.empty()) {
        const std::string chunk = std::exchange(m_in, {});
        if (auto data = m_events.data)
            data(chunk);
        if (m_state == State::Done)
            return;
    }
    if (m_resizePending) {
        m_resizePending = false;
        if (auto resized = m_resized)
            resized(m_terminal);
        if (m_state == State::Done)
            return;
    }
    if (m_inputEnded && !m_endedReported) {
        m_endedReported = true;
        if (auto ended = m_events.ended)
            ended();
        if (m_state == State::Done)
            return;
    }
    if (m_gone && !m_goneReported) {
        m_goneReported = true;
        if (auto gone = m_events.gone)
            gone();
        if (m_state == State::Done)
            return;
    }
    if (m_aboveHighWater && m_out.size() <= console::Connection::LowWater) {
        m_aboveHighWater = false;
        if (auto drained = m_events.drained)
            drained();
        if (m_state == State::Done)
            return;
    }
    if (m_state == State::Closing)
        finishClose();
    watchSocket();
}

void SshPeer::setEvents(console::Connection::Events events)
{
    m_events = std::move(events);
}

void SshPeer::send(std::string_view bytes)
{
    if (m_state != State::Open || m_gone || bytes.empty())
        return;
    m_out.append(bytes);
    flush();
    if (m_out.size() > console::Connection::HighWater)
        m_aboveHighWater = true;
    if (m_state == State::Done)
        return;
    // Writing can read too: what libssh took in on the way is delivered from the loop.
    if (!m_in.empty() || m_gone || m_inputEnded)
        m_loop.post([weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->afterPoll();
        });
    watchSocket();
}

void SshPeer::flush()
{
    if (m_channel && !m_gone && !writeWithinWindow(m_channel, m_out))
        m_gone = true;
}

void SshPeer::close()
{
    if (m_state != State::Open)
        return;
    m_state = State::Closing;
    finishClose();
}

// Once all that was queued has gone into the channel: exit status 0, EOF and
// the channel close; the session ends when the client closes its side.
void SshPeer::finishClose()
{
    if (m_gone) {
        end();
        return;
    }
    if (!m_out.empty() || !m_channel)
        return;
    if (!ssh_channel_is_closed(m_channel)) {
        ssh_channel_request_send_exit_status(m_channel, 0);
        ssh_channel_send_eof(m_channel);
        ssh_channel_close(m_channel);
        m_timer = m_loop.at(m_loop.now() + CloseGrace, [this] {
            m_timer = 0;
            end();
        });
    }
    watchSocket();
}

void SshPeer::detach()
{
    m_events = {};
    m_resized = {};
    if (m_state == State::Open)
        close();
}

} // namespace zentrel::ssh
