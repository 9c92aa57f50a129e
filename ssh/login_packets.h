// login_packets.h: whether the strings of a login packet arrived whole, when libssh hands them over as C strings.
#pragma once
#include <libssh/libssh.h>

#include <cstdint>
#include <string_view>

namespace zentrel::ssh {

// libssh gives a login's user name, password and answers as C strings: a
// password "secret\0more" arrives as "secret", and would pass for it.
// libssh does count the bytes of every packet it reads, before it runs the
// packet's callbacks; so a callback can tell from the count whether the
// strings it was given make up its whole packet, that is, whether none of
// them was cut at a NUL. A login whose packet cannot be told apart (a
// packet with no callback came between) counts as not whole, and fails.
class LoginPackets
{
public:
    // Counts the packets libssh reads from now on; from a callback, before
    // the login's packets, once for the session.
    void watch(ssh_session session);
    // At the end of every callback a packet came with: the next packet is
    // measured from here.
    void settle();

    // The packet being handled is a password request of exactly this user
    // name and password.
    bool passwordWhole(std::string_view user, std::string_view password) const;
    // ... a keyboard-interactive request of exactly this user name, with the
    // empty language and submethods every client sends.
    bool interactiveWhole(std::string_view user) const;
    // ... the answer to one keyboard-interactive prompt, exactly this one.
    bool answerWhole(std::string_view answer) const;

private:
    // The payload bytes of the one packet read since settle(), -1 when not
    // exactly one packet was.
    std::int64_t current() const;

    ssh_counter_struct m_counter{};
    std::uint64_t m_bytes = 0;
    std::uint64_t m_packets = 0;
    bool m_watching = false;
};

} // namespace zentrel::ssh
