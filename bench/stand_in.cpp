// stand_in.cpp: serves a response script as Zentrel should, or with one chosen fault.
#include "stand_in.h"

#include "clock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

namespace {

volatile sig_atomic_t stopRequested = 0;
int wakePipe[2] = {-1, -1};

void onTerm(int)
{
    stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
}

std::string readAll(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string setting(const std::string &ini, const std::string &key)
{
    const auto at = ini.find(key + "=");
    if (at == std::string::npos)
        return {};
    const auto from = at + key.size() + 1;
    return ini.substr(from, ini.find_first_of("\r\n", from) - from);
}

// The item rules: an item ends at a comma or a line end, blanks in front are
// skipped, a quoted item runs to the next quote and loses both quotes, an
// empty line is an empty item, the closing line end is consumed.
std::vector<std::string> readItems(const std::string &text, const std::string &fault)
{
    std::vector<std::string> items;
    std::size_t at = 0;
    const auto endOfItem = [&] {
        if (at < text.size() && text[at] == ',') {
            ++at;
        } else {
            if (at < text.size() && text[at] == '\r')
                ++at;
            if (at < text.size() && text[at] == '\n')
                ++at;
        }
    };
    while (at < text.size()) {
        const std::size_t lineStart = at;
        while (at < text.size() && text[at] == ' ')
            ++at;
        const std::size_t itemStart = fault == "keep-spaces" ? lineStart : at;
        if (at < text.size() && text[at] == '"') {
            const std::size_t close = text.find('"', at + 1);
            const std::size_t end = close == std::string::npos ? text.size() : close;
            items.push_back(fault == "keep-quotes" ? text.substr(itemStart, end + 1 - itemStart)
                                                   : text.substr(at + 1, end - at - 1));
            at = std::min(end + 1, text.size());
            at = std::min(text.find_first_of(",\r\n", at), text.size());
        } else {
            const std::size_t end = std::min(text.find_first_of(",\r\n", at), text.size());
            items.push_back(text.substr(itemStart, end - itemStart));
            at = end;
        }
        endOfItem();
    }
    return items;
}

bool sendAll(int fd, const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

// One playback: each pause runs from the start of its own wait, as Zentrel's does.
void serve(int client, double delay, const std::string &fault)
{
    std::vector<std::string> items = readItems(readAll("RESPONSE.TXT"), fault);
    if (fault == "drop-last" && !items.empty())
        items.pop_back();
    if (fault == "flip" && !items.empty()) {
        std::string &middle = items[items.size() / 2];
        if (!middle.empty())
            middle[0] ^= 0x20;
    }
    std::string pending;
    for (const std::string &item : items) {
        if (delay > 0) {
            if (!sendAll(client, pending))
                return;
            pending.clear();
            // One absolute sleep per pause; SIGTERM interrupts it.
            timespec until{};
            clock_gettime(CLOCK_MONOTONIC, &until);
            // "late" stretches every pause by 5 ms, to prove the pacing figures.
            const long nanoseconds = until.tv_nsec + long(delay * 1e9) + (fault == "late" ? 5000000 : 0);
            until.tv_sec += nanoseconds / 1000000000;
            until.tv_nsec = nanoseconds % 1000000000;
            // "wake-early" sleeps to 0.25 ms before the deadline and spins the rest.
            timespec wake = until;
            if (fault == "wake-early") {
                wake.tv_nsec -= 250000;
                if (wake.tv_nsec < 0) {
                    wake.tv_nsec += 1000000000;
                    --wake.tv_sec;
                }
            }
            while (!stopRequested
                   && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
            }
            const double deadline = double(until.tv_sec) + double(until.tv_nsec) * 1e-9;
            while (!stopRequested && now() < deadline) {
            }
            if (stopRequested)
                return;
        }
        pending += item;
        if (fault == "crlf")
            pending += "\r\n";
    }
    if (fault == "extra")
        pending += "\n";
    sendAll(client, pending);
}

} // namespace

const std::vector<std::string> &standInFaults()
{
    static const std::vector<std::string> faults = {
        "flip", "crlf", "keep-quotes", "keep-spaces", "drop-last", "extra",
    };
    return faults;
}

int runStandIn(const std::string &fault)
{
    const std::string ini = readAll("zentrel.ini");
    const int port = std::atoi(setting(ini, "TCP-Port").c_str());
    const double delay = std::atof(setting(ini, "Delay").c_str());
    if (::pipe2(wakePipe, O_CLOEXEC) != 0)
        return 1;
    struct sigaction action = {};
    action.sa_handler = onTerm;
    sigaction(SIGTERM, &action, nullptr);
    prctl(PR_SET_TIMERSLACK, 1UL);   // wake on the nanosecond the pause ends

    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1, off = 0;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(std::uint16_t(port));
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 64) != 0) {
        std::perror("stand-in: listen");
        return 1;
    }
    while (!stopRequested) {
        pollfd watch[2] = {{listener, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(watch, 2, -1) <= 0 || watch[1].revents)
            continue;
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        serve(client, delay, fault);
        ::close(client);
    }
    ::close(listener);
    return 0;
}

} // namespace zentrel::bench
