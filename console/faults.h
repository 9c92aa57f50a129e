// faults.h: what a router does wrong on purpose: a session cut short, output that trickles, pauses that wander.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zentrel::console {

struct Faults {
    enum class End { None, Close, Reset };
    End end = End::None;       // after `after` items: a close (FIN) or a reset (RST)
    std::size_t after = 1;
    double rate = 0;           // bytes a second of every item; 0: as fast as the client reads
    double jitter = 0;         // each pause varies by up to this many seconds either way
    std::uint64_t seed = 0;    // of the variation: a run with the same seed pauses the same

    static std::string_view name(End end) { return end == End::Reset ? "reset" : "close"; }
};

} // namespace zentrel::console
