// ssh_router.h: the recorder's SSH client to the real router: login, pty, shell, bytes both ways.
#pragma once
#include "platform/posix/posix_loop.h"

#include <libssh/libssh.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zentrel::record {

// libssh's client side, non-blocking on our loop: every libssh call is made
// from step(), which runs when the socket is ready, after a send, or on a
// timer; nothing blocks but the name lookup of the router at the connect.
class SshRouter
{
public:
    struct Login {
        std::string host;
        int port = 22;
        std::string user;
        std::string password;   // for the password login, and every keyboard-interactive prompt
        bool pty = true;
        std::string term = "vt100";
        int cols = 80;
        int rows = 24;
    };
    struct Events {
        std::function<void()> opened;                       // the shell is open
        std::function<void(std::string_view bytes)> data;   // from the router's shell
        // Once: the router closed the shell (`failure` false), or it could not
        // be reached, refused the login or the shell (`failure` true).
        std::function<void(const std::string &why, bool failure)> ended;
        // A line for the operator: the router's host key is not in known_hosts.
        std::function<void(const std::string &text)> notice;
    };

    static constexpr double OpenTimeout = 30;   // from the connect to the open shell

    SshRouter(platform::PosixLoop &loop, Login login, Events events);
    ~SshRouter();
    SshRouter(const SshRouter &) = delete;
    SshRouter &operator=(const SshRouter &) = delete;

    void start();
    // Queued until the shell is open, then written as the channel's window allows.
    void send(std::string_view bytes);
    void resize(int cols, int rows);
    // While held, the shell's output is not read (the client is not taking it).
    void holdOutput(bool held);
    // Tells the router that nothing more comes; it may still answer.
    void sendEof();
    // Sends EOF and closes the channel; no event after it.
    void close();
    std::size_t queued() const { return m_out.size(); }

private:
    enum class State { Connect, Password, Interactive, Channel, Pty, Shell, Open, Done };

    void later();
    void step();
    bool advance();   // one state further; false while libssh waits for the network
    void pump();
    void checkHostKey();
    void watch();
    void fail(const std::string &why);
    void finish(const std::string &why, bool failure);
    void release();
    std::string error() const;

    platform::PosixLoop &m_loop;
    Login m_login;
    Events m_events;
    ssh_session m_session = nullptr;
    ssh_channel m_channel = nullptr;
    int m_watchFd = -1;   // our duplicate of libssh's socket, see SshPeer
    State m_state = State::Connect;
    platform::EventLoop::TimerId m_timer = 0;
    std::string m_out;
    int m_interactiveRounds = 0;
    bool m_held = false;
    bool m_stepping = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);   // what posted steps check
};

} // namespace zentrel::record
