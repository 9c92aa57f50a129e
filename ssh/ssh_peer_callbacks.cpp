// ssh_peer_callbacks.cpp: what libssh asks of one SSH client's peer: the login, the channel, its requests and data.
#include "ssh/ssh_peer.h"

#include <string>
#include <string_view>

namespace zentrel::ssh {

namespace {

SshPeer *peerOf(void *self) { return static_cast<SshPeer *>(self); }

} // namespace

// Whole strings with their lengths: the packet's size has shown that none
// of them was cut at a NUL.
bool SshPeer::accepts(std::string_view user, std::string_view password) const
{
    if (m_account.user.empty())
        return !m_account.check || m_account.check(user, password);
    return user == m_account.user && password == m_account.password;
}

int SshPeer::onPassword(ssh_session, const char *user, const char *password, void *self)
{
    SshPeer *peer = peerOf(self);
    peer->m_user = user ? user : "";
    const std::string_view typed = password ? password : "";
    const bool whole = peer->m_login.passwordWhole(peer->m_user, typed);
    peer->m_login.settle();
    if (whole && peer->accepts(peer->m_user, typed)) {
        peer->m_password = typed;
        return SSH_AUTH_SUCCESS;
    }
    ++peer->m_authFailures;
    return SSH_AUTH_DENIED;
}

// Keyboard-interactive login: one password prompt, not echoed. Every
// message comes here first (the service request before any login), so the
// packets are counted from the first one on.
int SshPeer::onMessage(ssh_session session, ssh_message message, void *self)
{
    SshPeer *peer = peerOf(self);
    peer->m_login.watch(session);
    const int handled = peer->interactive(session, message);
    peer->m_login.settle();
    return handled;
}

int SshPeer::interactive(ssh_session session, ssh_message message)
{
    if (ssh_message_type(message) != SSH_REQUEST_AUTH
        || ssh_message_subtype(message) != SSH_AUTH_METHOD_INTERACTIVE)
        return 1;   // libssh's default answer
    // The answer carries no user name: it is the one of the request before it.
    if (!ssh_message_auth_kbdint_is_response(message)) {
        const char *user = ssh_message_auth_user(message);
        m_user = user ? user : "";
        m_userWhole = m_login.interactiveWhole(m_user);
        const char *prompts[] = {"Password: "};
        char echo[] = {0};
        ssh_message_auth_interactive_request(message, "", "", 1, prompts, echo);
        return 0;
    }
    const char *answer = ssh_userauth_kbdint_getnanswers(session) == 1
                             ? ssh_userauth_kbdint_getanswer(session, 0)
                             : nullptr;
    if (answer && m_userWhole && m_login.answerWhole(answer) && accepts(m_user, answer)) {
        m_password = answer;
        ssh_message_auth_reply_success(message, 0);
        return 0;
    }
    ++m_authFailures;
    ssh_message_auth_set_methods(message, SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);
    ssh_message_reply_default(message);
    return 0;
}

// The script goes to the first session channel; any further one is refused.
ssh_channel SshPeer::onChannelOpen(ssh_session session, void *self)
{
    SshPeer *peer = peerOf(self);
    if (peer->m_channel)
        return nullptr;
    peer->m_channel = ssh_channel_new(session);
    if (peer->m_channel)
        ssh_set_channel_callbacks(peer->m_channel, &peer->m_channelCallbacks);
    return peer->m_channel;
}

int SshPeer::onData(ssh_session, ssh_channel, void *data, uint32_t length, int isStderr, void *self)
{
    if (!isStderr)
        peerOf(self)->m_in.append(static_cast<const char *>(data), length);
    return static_cast<int>(length);
}

void SshPeer::onEof(ssh_session, ssh_channel, void *self)
{
    peerOf(self)->m_inputEnded = true;
}

void SshPeer::onClose(ssh_session, ssh_channel, void *self)
{
    peerOf(self)->m_gone = true;
}

int SshPeer::onPty(ssh_session, ssh_channel, const char *term, int cols, int rows, int, int, void *self)
{
    SshPeer *peer = peerOf(self);
    peer->m_pty = true;
    peer->m_terminal = {term ? term : "", cols, rows};
    return 0;
}

int SshPeer::onShell(ssh_session, ssh_channel, void *self)
{
    SshPeer *peer = peerOf(self);
    if (peer->m_channelReady)
        return 1;
    peer->m_channelReady = true;
    return 0;
}

// The command is what the client typed first.
int SshPeer::onExec(ssh_session, ssh_channel, const char *command, void *self)
{
    SshPeer *peer = peerOf(self);
    if (peer->m_channelReady)
        return 1;
    peer->m_channelReady = true;
    peer->m_exec = true;
    peer->m_in.insert(0, std::string(command ? command : "") + "\r");
    return 0;
}

int SshPeer::onEnv(ssh_session, ssh_channel, const char *, const char *, void *)
{
    return 0;
}

int SshPeer::onWindowChange(ssh_session, ssh_channel, int cols, int rows, int, int, void *self)
{
    SshPeer *peer = peerOf(self);
    peer->m_terminal.cols = cols;
    peer->m_terminal.rows = rows;
    peer->m_resizePending = true;
    return 0;
}

} // namespace zentrel::ssh
