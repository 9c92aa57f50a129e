// login_packets.cpp: a login packet's size, worked out from its strings and compared with what libssh read.
#include "ssh/login_packets.h"

namespace zentrel::ssh {

namespace {

// An SSH string on the wire: its 4-byte length, then its bytes.
constexpr std::int64_t string(std::size_t length)
{
    return 4 + static_cast<std::int64_t>(length);
}

// The message number, then the user name, "ssh-connection" and the method
// of SSH_MSG_USERAUTH_REQUEST (RFC 4252).
std::int64_t requestHead(std::string_view user, std::string_view method)
{
    return 1 + string(user.size()) + string(std::string_view("ssh-connection").size()) + string(method.size());
}

} // namespace

void LoginPackets::watch(ssh_session session)
{
    if (m_watching)
        return;
    m_watching = true;
    ssh_set_counters(session, nullptr, &m_counter);
    settle();
}

void LoginPackets::settle()
{
    m_bytes = m_counter.in_bytes;
    m_packets = m_counter.in_packets;
}

std::int64_t LoginPackets::current() const
{
    if (!m_watching || m_counter.in_packets != m_packets + 1)
        return -1;
    return static_cast<std::int64_t>(m_counter.in_bytes - m_bytes);
}

bool LoginPackets::passwordWhole(std::string_view user, std::string_view password) const
{
    // Then FALSE (no new password follows) and the password.
    return current() == requestHead(user, "password") + 1 + string(password.size());
}

bool LoginPackets::interactiveWhole(std::string_view user) const
{
    // Then the language and the submethods, both empty.
    return current() == requestHead(user, "keyboard-interactive") + string(0) + string(0);
}

bool LoginPackets::answerWhole(std::string_view answer) const
{
    // SSH_MSG_USERAUTH_INFO_RESPONSE: the message number, the count of
    // answers (one), the answer (RFC 4256).
    return current() == 1 + 4 + string(answer.size());
}

} // namespace zentrel::ssh
