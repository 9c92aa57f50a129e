// ssh_router.cpp: the recorder's SSH client to the real router: login, pty, shell, bytes both ways.
#include "record/ssh_router.h"
#include "ssh/channel_write.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace zentrel::record {

namespace {

constexpr std::size_t ChannelReadSize = 16 * 1024;
// A keyboard-interactive login that asks again and again is a refusal.
constexpr int MaxInteractiveRounds = 4;

} // namespace

SshRouter::SshRouter(platform::PosixLoop &loop, Login login, Events events)
    : m_loop(loop), m_login(std::move(login)), m_events(std::move(events))
{
}

SshRouter::~SshRouter()
{
    release();
}

std::string SshRouter::error() const
{
    return m_session ? ssh_get_error(m_session) : "no SSH session";
}

void SshRouter::start()
{
    m_session = ssh_new();
    if (!m_session) {
        m_loop.post([this, alive = std::weak_ptr<int>(m_alive)] {
            if (alive.lock())
                fail("libssh cannot make a session");
        });
        return;
    }
    bool processConfig = false;   // the user's ~/.ssh/config is not the router's
    const long timeout = static_cast<long>(OpenTimeout);
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, m_login.host.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &m_login.port);
    ssh_options_set(m_session, SSH_OPTIONS_TIMEOUT, &timeout);
    if (!m_login.user.empty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, m_login.user.c_str());
    ssh_set_blocking(m_session, 0);
    m_timer = m_loop.at(m_loop.now() + OpenTimeout, [this] {
        m_timer = 0;
        fail("the router's shell did not open within 30 seconds");
    });
    later();
}

void SshRouter::send(std::string_view bytes)
{
    if (m_state == State::Done || bytes.empty())
        return;
    m_out.append(bytes);
    if (m_state == State::Open)
        later();
}

void SshRouter::resize(int cols, int rows)
{
    m_login.cols = cols;
    m_login.rows = rows;
    if (m_state == State::Open && m_login.pty)
        ssh_channel_change_pty_size(m_channel, cols, rows);
}

void SshRouter::holdOutput(bool held)
{
    m_held = held;
    if (!held && m_state == State::Open)
        later();
}

void SshRouter::sendEof()
{
    if (m_state == State::Open && !ssh_channel_is_closed(m_channel)) {
        ssh_channel_send_eof(m_channel);
        watch();
    }
}

void SshRouter::close()
{
    m_events = {};
    if (m_state == State::Open && m_channel && !ssh_channel_is_closed(m_channel)) {
        ssh_channel_send_eof(m_channel);
        ssh_channel_close(m_channel);
    }
    release();
}

// From the loop, unless this router is gone by then.
void SshRouter::later()
{
    m_loop.post([this, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.lock())
            step();
    });
}

void SshRouter::step()
{
    if (m_state == State::Done || m_stepping)
        return;
    m_stepping = true;
    while (m_state != State::Open && m_state != State::Done && advance()) {
    }
    if (m_state == State::Open)
        pump();
    m_stepping = false;
    watch();
}

bool SshRouter::advance()
{
    switch (m_state) {
    case State::Connect: {
        const int rc = ssh_connect(m_session);
        if (rc == SSH_AGAIN) {
            watch();
            return false;
        }
        if (rc != SSH_OK) {
            fail("the router cannot be reached over SSH: " + error());
            return false;
        }
        checkHostKey();
        m_state = State::Password;
        return m_state != State::Done;
    }
    case State::Password: {
        const int rc = ssh_userauth_password(m_session, nullptr, m_login.password.c_str());
        if (rc == SSH_AUTH_AGAIN)
            return false;
        if (rc == SSH_AUTH_SUCCESS) {
            m_state = State::Channel;
            return true;
        }
        if (rc != SSH_AUTH_ERROR && (ssh_userauth_list(m_session, nullptr) & SSH_AUTH_METHOD_INTERACTIVE)) {
            m_state = State::Interactive;
            return true;
        }
        fail("the router refused the login as \"" + m_login.user + "\"");
        return false;
    }
    case State::Interactive: {
        const int rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
        if (rc == SSH_AUTH_AGAIN)
            return false;
        if (rc == SSH_AUTH_SUCCESS) {
            m_state = State::Channel;
            return true;
        }
        if (rc == SSH_AUTH_INFO && ++m_interactiveRounds <= MaxInteractiveRounds) {
            const int prompts = ssh_userauth_kbdint_getnprompts(m_session);
            for (int k = 0; k < prompts; ++k)
                ssh_userauth_kbdint_setanswer(m_session, static_cast<unsigned>(k), m_login.password.c_str());
            return true;
        }
        fail("the router refused the login as \"" + m_login.user + "\"");
        return false;
    }
    case State::Channel: {
        if (!m_channel && !(m_channel = ssh_channel_new(m_session))) {
            fail("libssh cannot make a channel: " + error());
            return false;
        }
        const int rc = ssh_channel_open_session(m_channel);
        if (rc == SSH_AGAIN)
            return false;
        if (rc != SSH_OK) {
            fail("the router refused a session channel: " + error());
            return false;
        }
        m_state = m_login.pty ? State::Pty : State::Shell;
        return true;
    }
    case State::Pty: {
        const int rc = ssh_channel_request_pty_size(m_channel, m_login.term.empty() ? "vt100" : m_login.term.c_str(),
                                                    m_login.cols, m_login.rows);
        if (rc == SSH_AGAIN)
            return false;
        if (rc != SSH_OK) {
            fail("the router refused the terminal: " + error());
            return false;
        }
        m_state = State::Shell;
        return true;
    }
    case State::Shell: {
        const int rc = ssh_channel_request_shell(m_channel);
        if (rc == SSH_AGAIN)
            return false;
        if (rc != SSH_OK) {
            fail("the router refused the shell: " + error());
            return false;
        }
        m_state = State::Open;
        if (m_timer)
            m_loop.cancel(std::exchange(m_timer, 0));
        if (auto opened = m_events.opened)
            opened();
        return true;
    }
    case State::Open:
    case State::Done:
        break;
    }
    return false;
}

void SshRouter::checkHostKey()
{
    const ssh_known_hosts_e known = ssh_session_is_known_server(m_session);
    if (known == SSH_KNOWN_HOSTS_OK)
        return;
    if (known == SSH_KNOWN_HOSTS_CHANGED || known == SSH_KNOWN_HOSTS_OTHER) {
        fail("the router's host key is not the one known_hosts holds for it: not logging in");
        return;
    }
    std::string fingerprint = "(unknown)";
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(m_session, &key) == SSH_OK) {
        unsigned char *hash = nullptr;
        std::size_t length = 0;
        if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == SSH_OK) {
            char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
            if (text)
                fingerprint = text;
            ssh_string_free_char(text);
            ssh_clean_pubkey_hash(&hash);
        }
        ssh_key_free(key);
    }
    if (auto notice = m_events.notice)
        notice("the router's host key " + fingerprint + " is not in known_hosts; taken for this run");
}

// Bytes both ways while the shell is open.
void SshRouter::pump()
{
    if (!ssh::writeWithinWindow(m_channel, m_out)) {
        fail("the router connection failed: " + error());
        return;
    }
    char buffer[ChannelReadSize];
    while (!m_held) {
        int got = ssh_channel_read_nonblocking(m_channel, buffer, sizeof buffer, 0);
        if (got == 0)
            got = ssh_channel_read_nonblocking(m_channel, buffer, sizeof buffer, 1);
        if (got == SSH_ERROR) {
            fail("the router connection failed: " + error());
            return;
        }
        if (got <= 0)
            break;
        if (auto data = m_events.data)
            data(std::string_view(buffer, static_cast<std::size_t>(got)));
        if (m_state != State::Open)
            return;
    }
    if (ssh_channel_is_eof(m_channel) || ssh_channel_is_closed(m_channel)
        || (ssh_get_status(m_session) & (SSH_CLOSED | SSH_CLOSED_ERROR))) {
        // What the router said last has been read above.
        if (!m_held)
            finish("the router closed the connection", false);
    }
}

void SshRouter::watch()
{
    if (m_state == State::Done || !m_session)
        return;
    const int fd = ssh_get_fd(m_session);
    if (fd == SSH_INVALID_SOCKET)
        return;
    if (m_watchFd < 0) {
        m_watchFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (m_watchFd < 0) {
            fail(std::string("cannot watch the router's socket: ") + std::strerror(errno));
            return;
        }
    }
    std::uint32_t events = EPOLLIN;
    // libssh asks for writing while its connect is under way, and while it holds output.
    if (ssh_get_poll_flags(m_session) & SSH_WRITE_PENDING)
        events |= EPOLLOUT;
    if (m_loop.watching(m_watchFd))
        m_loop.modify(m_watchFd, events);
    else
        m_loop.watch(m_watchFd, events, [this](std::uint32_t) { step(); });
}

void SshRouter::fail(const std::string &why)
{
    finish(why, true);
}

void SshRouter::finish(const std::string &why, bool failure)
{
    if (m_state == State::Done)
        return;
    auto ended = std::move(m_events.ended);
    m_events = {};
    release();
    if (ended)
        ended(why, failure);
}

void SshRouter::release()
{
    m_state = State::Done;
    if (m_timer)
        m_loop.cancel(std::exchange(m_timer, 0));
    if (m_watchFd >= 0) {
        if (m_loop.watching(m_watchFd))
            m_loop.unwatch(m_watchFd);
        ::close(m_watchFd);
        m_watchFd = -1;
    }
    if (m_session) {
        if (m_channel)
            ssh_channel_free(m_channel);
        m_channel = nullptr;
        ssh_disconnect(m_session);
        ssh_free(m_session);
        m_session = nullptr;
    }
}

} // namespace zentrel::record
