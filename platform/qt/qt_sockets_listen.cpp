// qt_sockets_listen.cpp: element 0 of Winsock1, the listening socket.
#include "platform/qt/qt_sockets.h"

#include "platform/error.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace zentrel::platform {

namespace {

// Clients of a test farm may arrive in bursts.
constexpr int ListenBacklog = 1024;

// A socket bound to every interface: IPv6 taking IPv4 too where the system
// has IPv6, plain IPv4 where it does not. -1 with errno set on failure.
int listeningSocket(std::uint16_t port)
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int off = 0;
    int bound = -1;
    if (fd >= 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        // Each item leaves at once; accepted connections inherit the option.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } else if (errno == EAFNOSUPPORT) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            address.sin_port = htons(port);
            bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        }
    }
    if (fd < 0)
        return -1;
    if (bound != 0 || ::listen(fd, ListenBacklog) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

void QtSocketArray::setLocalPort(int index, std::int32_t port)
{
    if (port < 0 || port > 65535)
        throw Error(InvalidPropertyValue, "Invalid property value: port " + std::to_string(port));
    if (index == 0)
        m_port = port;
    // An accepting element has no port of its own.
}

void QtSocketArray::listen(int index)
{
    if (index != 0)
        throw Error(SocketError, "Only Winsock1(0) listens");
    stopListening();
    const int fd = listeningSocket(std::uint16_t(m_port));
    if (fd < 0)
        throw Error(InvalidPropertyValue,
                    "Port " + std::to_string(m_port) + ": " + std::strerror(errno));
    m_listenFd = fd;
    m_listening = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_listening.get(), &QSocketNotifier::activated, &m_context,
                     [this] { acceptOne(); });
}

void QtSocketArray::stopListening()
{
    m_listening.reset();
    if (m_listenFd >= 0)
        ::close(std::exchange(m_listenFd, -1));
}

quint16 QtSocketArray::serverPort() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (m_listenFd < 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

} // namespace zentrel::platform
