// proc_stats.h: what the bench reads about a process and its sockets from /proc.
#pragma once
#include <cmath>
#include <optional>
#include <string>
#include <sys/types.h>

namespace zentrel::bench {

// Resident set (VmRSS) and its peak (VmHWM), in KiB; -1 when unreadable.
long residentKiB(pid_t pid);
long peakResidentKiB(pid_t pid);
inline double mebibytes(long kib) { return kib < 0 ? std::nan("") : double(kib) / 1024.0; }
// Open descriptors (entries of /proc/<pid>/fd); -1 when unreadable.
int descriptorCount(pid_t pid);
// User plus system time from /proc/<pid>/stat, in seconds (clock-tick resolution).
double cpuSecondsFromStat(pid_t pid);
// Run time of every live thread from /proc/<pid>/task/*/schedstat, in seconds
// (nanosecond resolution); NaN where the kernel does not keep it.
double cpuSecondsFromSchedstat(pid_t pid);

// A socket listening on a port, found in /proc/net/tcp and tcp6 without
// connecting to it.
struct ListeningSocket
{
    std::string host;          // "127.0.0.1", or "::1" when only IPv6 loopback listens
    unsigned long inode = 0;
};
std::optional<ListeningSocket> listeningSocket(int port);
// The process that holds the socket with this inode open; -1 when none is found.
pid_t socketOwner(unsigned long inode);

// The whole machine's CPU time so far, all processes and all CPUs, from /proc/stat.
struct MachineTimes
{
    double busy = 0;    // seconds neither idle nor waiting for I/O
    double tasks = 0;   // of which spent in processes (no interrupt work, no steal)
    double total = 0;
    double steal = 0;   // taken by the hypervisor
};
MachineTimes machineTimes();
// The one-minute load average.
double loadAverage();

// A port that nothing on the machine uses at the moment.
int freePort();

} // namespace zentrel::bench
