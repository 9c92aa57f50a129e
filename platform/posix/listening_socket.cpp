// listening_socket.cpp: socket, SO_REUSEADDR, bind, listen, and the port the system gave.
#include "platform/posix/listening_socket.h"

#include "platform/error.h"
#include "platform/posix/socket_address.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace zentrel::platform {

ListeningSocket listenOn(const std::string &address, int port, const std::string &purpose, bool *inUse)
{
    ListeningSocket bound;
    auto refuse = [&](const std::string &why) {
        if (bound.fd >= 0)
            ::close(bound.fd);
        throw Error(InvalidPropertyValue,
                    "cannot " + purpose + " on " + address + " port " + std::to_string(port) + ": " + why);
    };
    if (port < 0 || port > 65535)
        refuse("the port is outside 0 to 65535");
    SocketAddress bindTo;
    if (!bindTo.parse(address, port))
        refuse("not an IPv4 or IPv6 address");
    bound.fd = ::socket(bindTo.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (bound.fd < 0)
        refuse(std::strerror(errno));
    const int on = 1;
    if (::setsockopt(bound.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
        refuse(std::string("SO_REUSEADDR: ") + std::strerror(errno));
    // An IPv6 socket takes IPv4 clients too, whatever the system's bindv6only says.
    const int off = 0;
    if (bindTo.family() == AF_INET6 && ::setsockopt(bound.fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) < 0)
        refuse(std::string("IPV6_V6ONLY: ") + std::strerror(errno));
    // Another socket may take the port between bind() and listen().
    if (::bind(bound.fd, bindTo.get(), bindTo.length()) < 0 || ::listen(bound.fd, SOMAXCONN) < 0) {
        if (inUse && errno == EADDRINUSE) {
            *inUse = true;
            ::close(bound.fd);
            return {};
        }
        refuse(std::strerror(errno));
    }
    SocketAddress local;
    if (::getsockname(bound.fd, local.buffer(), local.capacity()) < 0)
        refuse(std::string("getsockname: ") + std::strerror(errno));
    bound.port = local.port();
    bound.address = local.host();
    return bound;
}

} // namespace zentrel::platform
