// ssh_peer.h: one SSH client: key exchange, login and its one channel, driven from the event loop.
#pragma once
#include "console/connection.h"
#include "platform/posix/posix_loop.h"
#include "ssh/login_packets.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace zentrel::ssh {

// The one account a router accepts; an empty user accepts any name and
// password, or those `check` accepts when it is set (a command-driven
// router's own users).
struct SshAccount {
    std::string user;
    std::string password;
    std::function<bool(std::string_view user, std::string_view password)> check;
};

// Lives from the accept until the client's socket is closed, which can be
// after the router let go of its connection and after the listener is gone:
// what was queued still goes out.
// libssh only ever runs inside onReady() and the calls below; its callbacks
// record what happened, and the events go to the session after libssh returns.
class SshPeer : public std::enable_shared_from_this<SshPeer>
{
public:
    struct Hooks {
        // A shell or exec channel is open: the connection is the router's now.
        std::function<void(std::shared_ptr<SshPeer>)> ready;
        // Ended before it was ready; `authFailed` for three failed logins.
        std::function<void(SshPeer *, bool authFailed, const std::string &why)> failed;
        // Fully done: the owner drops its reference (posted, never from inside).
        std::function<void(SshPeer *)> finished;
    };

    static constexpr double HandshakeTimeout = 30;
    static constexpr int MaxAuthFailures = 3;

    // Takes the session, already accepted on its socket.
    SshPeer(platform::PosixLoop &loop, ssh_session session, SshAccount account, std::string peer,
            Hooks hooks);
    ~SshPeer();
    SshPeer(const SshPeer &) = delete;
    SshPeer &operator=(const SshPeer &) = delete;

    void start();
    // Frees everything now, without a goodbye (the program is ending).
    // From the hand-over until then, the peer counts in the loop's
    // lingering(), and letGoLingering() abandons and frees it.
    void abandon();
    // Its owner is going away: nothing is reported to it any more (a report
    // already posted included).
    void disown() { m_hooks = {}; }

    // The connection side, for SshConnection.
    void setEvents(console::Connection::Events events);
    void send(std::string_view bytes);
    std::size_t queued() const { return m_out.size(); }
    bool isGone() const { return m_gone; }
    void close();
    void detach();   // the router has let go
    const std::string &peer() const { return m_peer; }
    const std::string &user() const { return m_user; }
    // The password the client logged in with (a recorder logs in to the real
    // router with it); empty before the login.
    const std::string &password() const { return m_password; }
    struct Terminal {
        std::string type;   // TERM, as the pty request named it
        int cols = 80;
        int rows = 24;
    };
    // The pty request's terminal, then its latest window change.
    const Terminal &terminal() const { return m_terminal; }
    // Told of each window change, from the loop.
    void onResize(std::function<void(const Terminal &)> resized) { m_resized = std::move(resized); }
    bool hasPty() const { return m_pty; }
    bool isExec() const { return m_exec; }

private:
    enum class State { KeyExchange, Login, Open, Closing, Done };

    void onReady();
    void handshake();
    void afterPoll();
    void flush();
    void finishClose();
    void fail(bool authFailed, const std::string &why);
    void end();
    void watchSocket();
    void releaseSocket();
    bool libsshClosed() const;
    bool accepts(std::string_view user, std::string_view password) const;
    int interactive(ssh_session session, ssh_message message);

    static int onPassword(ssh_session, const char *user, const char *password, void *self);
    static int onMessage(ssh_session, ssh_message message, void *self);
    static ssh_channel onChannelOpen(ssh_session, void *self);
    static int onData(ssh_session, ssh_channel, void *data, uint32_t length, int isStderr, void *self);
    static void onEof(ssh_session, ssh_channel, void *self);
    static void onClose(ssh_session, ssh_channel, void *self);
    static int onPty(ssh_session, ssh_channel, const char *term, int cols, int rows, int, int, void *self);
    static int onShell(ssh_session, ssh_channel, void *self);
    static int onExec(ssh_session, ssh_channel, const char *command, void *self);
    static int onEnv(ssh_session, ssh_channel, const char *, const char *, void *);
    static int onWindowChange(ssh_session, ssh_channel, int cols, int rows, int, int, void *self);

    platform::PosixLoop &m_loop;
    std::shared_ptr<SshPeer> m_keepAlive;   // from the hand-over to the end
    ssh_session m_session;
    ssh_event m_event = nullptr;
    ssh_channel m_channel = nullptr;
    // Our own duplicate of the client's socket, the one the loop watches.
    // libssh closes its descriptor whenever it decides the connection is
    // over, from inside any of its calls; this one only we close, so the
    // loop never holds a watch on a number that may already name another
    // client's socket.
    int m_watchFd = -1;
    SshAccount m_account;
    std::string m_peer;
    Hooks m_hooks;
    ssh_server_callbacks_struct m_serverCallbacks{};
    ssh_channel_callbacks_struct m_channelCallbacks{};
    console::Connection::Events m_events;
    platform::EventLoop::TimerId m_timer = 0;
    platform::PosixLoop::LingerId m_lingering = 0;   // from the hand-over to the end

    State m_state = State::KeyExchange;
    std::string m_user;
    std::string m_password;
    Terminal m_terminal;
    std::function<void(const Terminal &)> m_resized;
    bool m_resizePending = false;
    LoginPackets m_login;           // whether a login's strings came whole
    bool m_userWhole = false;       // the keyboard-interactive request's user name
    std::string m_in;               // typed, not yet given to the session
    std::string m_out;              // for the channel, beyond its window
    int m_authFailures = 0;
    bool m_channelReady = false;    // shell or exec asked for
    bool m_handedOver = false;
    bool m_pty = false;
    bool m_exec = false;
    bool m_inputEnded = false;      // the client sent EOF
    bool m_endedReported = false;
    bool m_gone = false;
    bool m_goneReported = false;
    bool m_aboveHighWater = false;
    bool m_inPoll = false;
};

} // namespace zentrel::ssh
