// posix_transport_bench.cpp: many paced TCP clients on one POSIX loop: lateness, CPU, memory.
//
//   zentrel_posix_bench [CLIENTS] [DELAY] [ITEMS]
//
// A child process serves: one listener on 127.0.0.1, a TcpConnection per client,
// and a timer per client that sends ITEMS items, one every DELAY seconds, then
// closes. The parent is the clients (on a loop of its own) and checks every byte.
// The child reports each item's lateness against its own deadline.
#include "platform/posix/posix_loop.h"
#include "platform/posix/tcp_connection.h"
#include "platform/posix/tcp_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace zentrel::platform;

namespace {

std::string item(int client, int index)
{
    char text[32];
    std::snprintf(text, sizeof text, "%06d item %04d\r\n", client, index);
    return text;
}

long statusKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

int openDescriptors()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count - 2;
}

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Paced {
    std::unique_ptr<TcpConnection> connection;
    int id = 0;
    int sent = 0;
    double start = 0;
};

int serve(int portPipe, int clients, double delay, int items)
{
    PosixLoop loop;
    std::vector<double> lateness;
    lateness.reserve(std::size_t(clients) * std::size_t(items));
    std::vector<std::unique_ptr<Paced>> sessions;
    const long baseKiB = statusKiB("VmRSS:");
    long peakKiB = 0;
    int peakFds = 0, finished = 0;
    double cpuAtFirst = -1, firstAt = 0;

    std::function<void(Paced *)> next = [&](Paced *paced) {
        const double deadline = paced->start + delay * (paced->sent + 1);
        loop.at(deadline, [&, paced, deadline] {
            lateness.push_back(loop.now() - deadline);
            paced->connection->send(item(paced->id, paced->sent));
            if (++paced->sent < items)
                return next(paced);
            if (finished == 0) {
                peakKiB = statusKiB("VmRSS:");
                peakFds = openDescriptors();
            }
            paced->connection->close();
            paced->connection.reset();
            if (++finished == clients)
                loop.quit();
        });
    };
    TcpListener listener(loop, "127.0.0.1", 0, [&](int fd, std::string peer) {
        auto paced = std::make_unique<Paced>();
        paced->connection = std::make_unique<TcpConnection>(loop, fd, peer);
        paced->id = int(sessions.size());
        paced->start = loop.now();
        if (sessions.empty())
            cpuAtFirst = cpuSeconds(), firstAt = loop.now();
        next(paced.get());
        sessions.push_back(std::move(paced));
    });
    const int port = listener.port();
    if (write(portPipe, &port, sizeof port) != sizeof port)
        return 1;
    loop.run();
    const double wall = loop.now() - firstAt;
    const double cpu = cpuSeconds() - cpuAtFirst;
    while (loop.lingering() > 0)
        loop.runOnce(0.1);

    std::sort(lateness.begin(), lateness.end());
    auto at = [&](double q) { return lateness[std::size_t(q * double(lateness.size() - 1))] * 1e3; };
    std::printf("server: %d clients, %d items each at %.3f s: lateness median %.3f ms, p99 %.3f ms, "
                "max %.3f ms\n", clients, items, delay, at(0.5), at(0.99), at(1.0));
    std::printf("server: CPU %.1f%% of one core over %.1f s (%.0f clients served a second); "
                "resident %.1f MiB more at the peak (%.1f KiB a client); %d descriptors\n",
                100 * cpu / wall, wall, clients / wall, double(peakKiB - baseKiB) / 1024,
                double(peakKiB - baseKiB) / clients, peakFds);
    return 0;
}

// The clients: connect them all, read until each server side closes, check the bytes.
int drive(int port, int clients, int items)
{
    PosixLoop loop;
    struct Client {
        int fd;
        std::string got;
    };
    std::vector<Client> all(static_cast<std::size_t>(clients));
    int done = 0, wrong = 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < clients; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0 || (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0
                       && errno != EINPROGRESS)) {
            std::perror("client");
            return 1;
        }
        all[i].fd = fd;
        loop.watch(fd, EPOLLIN, [&, i](std::uint32_t) {
            char buffer[4096];
            const ssize_t n = recv(all[i].fd, buffer, sizeof buffer, 0);
            if (n > 0)
                return all[i].got.append(buffer, std::size_t(n)), void();
            if (n < 0 && errno == EAGAIN)
                return;
            loop.unwatch(all[i].fd);
            close(all[i].fd);
            if (++done == clients)
                loop.quit();
        });
        if (i % 256 == 255)
            loop.runOnce(0);   // the server accepts as we go; the backlog stays short
    }
    loop.run();
    // The server numbers clients in the order it accepted them, so find each by its prefix.
    std::vector<int> seen(std::size_t(clients), 0);
    for (const Client &client : all) {
        const int id = std::atoi(client.got.substr(0, 6).c_str());
        std::string expected;
        for (int k = 0; k < items; ++k)
            expected += item(id, k);
        if (client.got != expected || id < 0 || id >= clients || seen[id]++)
            ++wrong;
    }
    std::printf("clients: %d of %d streams byte-exact\n", clients - wrong, clients);
    return wrong == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 2000;
    const double delay = argc > 2 ? std::atof(argv[2]) : 0.1;
    const int items = argc > 3 ? std::atoi(argv[3]) : 40;
    rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    int pipeFds[2];
    if (pipe(pipeFds) < 0)
        return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        const int served = serve(pipeFds[1], clients, delay, items);
        std::fflush(stdout);
        _exit(served);
    }
    close(pipeFds[1]);
    int port = 0;
    if (read(pipeFds[0], &port, sizeof port) != sizeof port)
        return 1;
    const int clientStatus = drive(port, clients, items);
    int status = 0;
    waitpid(child, &status, 0);
    return clientStatus != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}
