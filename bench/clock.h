// clock.h: the bench's one time source and its small statistics helpers.
#pragma once
#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace zentrel::bench {

// Monotonic seconds; every timestamp of the bench comes from here.
inline double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

inline void sleepFor(double seconds)
{
    if (seconds <= 0)
        return;
    timespec ts{};
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// NaN for an empty list, so a figure that could not be measured shows as such.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Nearest rank: the smallest value that `fraction` of the values do not exceed.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

// Wall-clock seconds since 1970, the servers' event times.
inline double unixNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

inline double maxOf(const std::vector<double> &values)
{
    return values.empty() ? std::nan("") : *std::max_element(values.begin(), values.end());
}

} // namespace zentrel::bench
