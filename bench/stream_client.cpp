// stream_client.cpp: receives one stream with timestamps and compares it with the expected bytes.
#include "stream_client.h"

#include "clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

namespace {

int connectTo(const Endpoint &endpoint, std::string &error)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
    if (inet_pton(AF_INET, endpoint.host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(endpoint.port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, endpoint.host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(endpoint.port));
        length = sizeof *v6;
    } else {
        error = "bad address " + endpoint.host;
        return -1;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0) {
        error = std::string("connect: ") + strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string printable(const std::string &bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    return text;
}


std::string checkChunk(const Script &script, std::size_t offset, const char *data, std::size_t size)
{
    const std::string &wire = script.wire;
    const std::size_t overlap = offset < wire.size() ? std::min(size, wire.size() - offset) : 0;
    if (std::memcmp(data, wire.data() + offset, overlap) != 0) {
        std::size_t i = 0;
        while (data[i] == wire[offset + i])
            ++i;
        return describeMismatch(script, offset + i, std::string(data + i, size - i));
    }
    if (size > overlap)
        return std::to_string(offset + size - wire.size()) + " byte(s) after the last item, starting \""
            + printable(std::string(data + overlap, std::min<std::size_t>(size - overlap, 16))) + "\"";
    return {};
}

std::string describeMismatch(const Script &script, std::size_t offset, const std::string &got)
{
    const std::size_t item = script.itemAt(offset);
    const std::size_t from = offset >= 16 ? offset - 16 : 0;
    std::string text = "wrong byte at offset " + std::to_string(offset) + " (item "
        + std::to_string(item + 1) + " of " + std::to_string(script.items()) + "): expected \""
        + printable(script.wire.substr(from, offset - from)) + "[" + printable(script.wire.substr(offset, 24))
        + "]\", got \"" + printable(script.wire.substr(from, offset - from)) + "[" + printable(got.substr(0, 24))
        + "]\"";
    return text;
}

StreamResult receiveStream(const Endpoint &endpoint, const Script &script, double timeout,
                           bool wantArrivals)
{
    StreamResult result;
    const std::string &wire = script.wire;
    static thread_local std::vector<char> buffer(1 << 20);

    result.started = now();
    std::string error;
    const int fd = connectTo(endpoint, error);
    result.connected = now();
    if (fd < 0) {
        result.ended = result.connected;
        result.problem = error;
        return result;
    }

    std::size_t nextItem = 0;
    if (wantArrivals)
        result.itemArrivals.reserve(script.items());
    const double deadline = result.started + timeout;
    bool sawEnd = false;
    for (;;) {
        const double left = deadline - now();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, int(left * 1000) + 1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        const double at = now();
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            if (result.problem.empty())
                result.problem = std::string("receive failed after ") + std::to_string(result.received)
                    + " bytes: " + strerror(errno);
            result.ended = at;
            break;
        }
        if (n == 0) {
            result.ended = at;
            sawEnd = true;
            break;
        }
        const std::size_t offset = result.received;
        const std::size_t size = std::size_t(n);
        result.received += size;
        if (result.problem.empty())
            result.problem = checkChunk(script, offset, buffer.data(), size);
        if (wantArrivals) {
            while (nextItem < script.items() && script.itemEnds[nextItem] <= result.received) {
                result.itemArrivals.push_back(at);
                ++nextItem;
            }
        }
    }
    ::close(fd);
    if (result.timedOut) {
        result.ended = now();
        if (result.problem.empty())
            result.problem = "no end of stream within " + std::to_string(int(timeout)) + " s ("
                + std::to_string(result.received) + " of " + std::to_string(wire.size()) + " bytes)";
    } else if (sawEnd && result.problem.empty() && result.received < wire.size()) {
        result.problem = "connection closed after " + std::to_string(result.received) + " of "
            + std::to_string(wire.size()) + " bytes (item "
            + std::to_string(script.itemAt(result.received) + 1) + " of "
            + std::to_string(script.items()) + " missing or cut)";
    }
    result.exact = sawEnd && result.problem.empty();
    return result;
}

} // namespace zentrel::bench
