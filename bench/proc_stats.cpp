// proc_stats.cpp: reads memory, CPU time and listening sockets from /proc.
#include "proc_stats.h"

#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

namespace {

long statusFieldKiB(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size(), field) == 0 && line.size() > field.size()
            && line[field.size()] == ':')
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Looks through one /proc/net table for a LISTEN (0A) socket on the port.
bool scanTable(const char *path, int port, bool &reachable4, unsigned long &inode)
{
    std::ifstream table(path);
    std::string line;
    std::getline(table, line);   // header
    bool found = false;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        unsigned long socketInode = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid
            >> socketInode >> socketInode;
        const auto colon = local.rfind(':');
        if (colon == std::string::npos || state != "0A")
            continue;
        if (std::stoi(local.substr(colon + 1), nullptr, 16) != port)
            continue;
        found = true;
        inode = socketInode;
        // ::1 in the kernel's word order; anything else (::, 0.0.0.0, 127.x) takes 127.0.0.1.
        if (local.substr(0, colon) != "00000000000000000000000001000000")
            reachable4 = true;
    }
    return found;
}

} // namespace

long residentKiB(pid_t pid) { return statusFieldKiB(pid, "VmRSS"); }
long peakResidentKiB(pid_t pid) { return statusFieldKiB(pid, "VmHWM"); }

int descriptorCount(pid_t pid)
{
    DIR *dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = readdir(dir))
        count += entry->d_name[0] == '.' ? 0 : 1;
    closedir(dir);
    return count;
}

double cpuSecondsFromStat(pid_t pid)
{
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return std::nan("");
    // After the command name: state is field 3, utime field 14, stime field 15.
    std::istringstream fields(text.substr(close + 2));
    std::string value;
    double ticks = 0;
    for (int field = 3; field <= 15 && fields >> value; ++field) {
        if (field == 14 || field == 15)
            ticks += std::stod(value);
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double cpuSecondsFromSchedstat(pid_t pid)
{
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(taskDir.c_str());
    if (!dir)
        return std::nan("");
    double nanoseconds = 0;
    bool any = false;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream schedstat(taskDir + "/" + entry->d_name + "/schedstat");
        double runNs = 0;
        if (schedstat >> runNs) {
            nanoseconds += runNs;
            any = true;
        }
    }
    closedir(dir);
    return any ? nanoseconds * 1e-9 : std::nan("");
}

std::optional<ListeningSocket> listeningSocket(int port)
{
    bool reachable4 = false;
    ListeningSocket socket;
    const bool found4 = scanTable("/proc/net/tcp", port, reachable4, socket.inode);
    const bool found6 = scanTable("/proc/net/tcp6", port, reachable4, socket.inode);
    if (!found4 && !found6)
        return std::nullopt;
    socket.host = reachable4 ? "127.0.0.1" : "::1";
    return socket;
}

pid_t socketOwner(unsigned long inode)
{
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR *proc = opendir("/proc");
    if (!proc)
        return -1;
    pid_t owner = -1;
    while (const dirent *entry = readdir(proc)) {
        if (owner > 0 || entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string fdDir = std::string("/proc/") + entry->d_name + "/fd";
        DIR *fds = opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (const dirent *fd = readdir(fds)) {
            char target[64];
            const std::string link = fdDir + "/" + fd->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && wanted.compare(0, std::string::npos, target, std::size_t(n)) == 0) {
                owner = pid_t(std::atoi(entry->d_name));
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return owner;
}

MachineTimes machineTimes()
{
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    const double tick = double(sysconf(_SC_CLK_TCK));
    MachineTimes times;
    times.busy = (user + nice + system + irq + softirq + steal) / tick;
    times.tasks = (user + nice + system) / tick;
    times.total = times.busy + (idle + iowait) / tick;
    times.steal = steal / tick;
    return times;
}

double loadAverage()
{
    std::ifstream loadavg("/proc/loadavg");
    double load = std::nan("");
    loadavg >> load;
    return load;
}

int freePort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        socklen_t length = sizeof address;
        int port = -1;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin6_port);
        ::close(fd);
        if (port > 0 && !listeningSocket(port))
            return port;
    }
    return -1;
}

} // namespace zentrel::bench
