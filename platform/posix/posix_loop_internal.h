// posix_loop_internal.h: what the POSIX loop's source files share.
#pragma once
#include "platform/error.h"

#include <sys/epoll.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace zentrel::platform::posix_loop {

[[noreturn]] inline void fail(const char *what)
{
    throw Error(SocketError, std::string(what) + ": " + std::strerror(errno));
}

// Our own descriptors carry generation 0 in their epoll data; watched ones never do.
inline std::uint64_t tag(int fd, std::uint32_t generation)
{
    return (std::uint64_t(generation) << 32) | std::uint32_t(fd);
}

inline std::uint32_t interest(std::uint32_t events)
{
    // EPOLLRDHUP only with EPOLLIN: it stays raised once the peer has shut
    // its side, and a descriptor that stopped reading must not keep waking.
    std::uint32_t mask = events & (EPOLLIN | EPOLLOUT);
    if (mask & EPOLLIN)
        mask |= EPOLLRDHUP;
    return mask;
}

// A callback's failure is told on stderr and goes no further than the loop.
template <typename F> void runGuarded(const char *what, F &&function)
{
    try {
        function();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zentrel: %s failed: %s\n", what, error.what());
    } catch (...) {
        std::fprintf(stderr, "zentrel: %s failed with an unknown exception\n", what);
    }
}

} // namespace zentrel::platform::posix_loop
