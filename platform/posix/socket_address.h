// socket_address.h: an IPv4 or IPv6 socket address, parsed from and shown as text.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace zentrel::platform {

class SocketAddress
{
public:
    // An IPv4 or IPv6 literal; IPv6 also in brackets. False for anything else.
    bool parse(std::string host, int port)
    {
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        std::memset(&m_storage, 0, sizeof m_storage);
        auto *v4 = reinterpret_cast<sockaddr_in *>(&m_storage);
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&m_storage);
        if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(std::uint16_t(port));
            m_length = sizeof *v4;
            return true;
        }
        if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(std::uint16_t(port));
            m_length = sizeof *v6;
            return true;
        }
        return false;
    }

    int family() const { return m_storage.ss_family; }
    const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&m_storage); }
    socklen_t length() const { return m_length; }
    // For accept() and getsockname() to fill in.
    sockaddr *buffer() { return reinterpret_cast<sockaddr *>(&m_storage); }
    socklen_t *capacity() { return &(m_length = sizeof m_storage); }

    int port() const
    {
        if (family() == AF_INET6)
            return ntohs(reinterpret_cast<const sockaddr_in6 *>(&m_storage)->sin6_port);
        return ntohs(reinterpret_cast<const sockaddr_in *>(&m_storage)->sin_port);
    }
    // The address alone: "127.0.0.1", "::1".
    std::string host() const
    {
        char text[INET6_ADDRSTRLEN] = "";
        if (family() == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&m_storage)->sin6_addr,
                      text, sizeof text);
        else if (family() == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&m_storage)->sin_addr,
                      text, sizeof text);
        return text;
    }
    // "127.0.0.1:40000", "[::1]:40000".
    std::string peer() const
    {
        const std::string shown = family() == AF_INET6 ? "[" + host() + "]" : host();
        return shown + ":" + std::to_string(port());
    }

private:
    sockaddr_storage m_storage{};
    socklen_t m_length = sizeof m_storage;
};

} // namespace zentrel::platform
