// faults.h: what a router does wrong on purpose: a session cut short, output that trickles or stalls, pauses that wander, messages of its own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

// What one answer of a command-driven router does wrong (a command's fault:,
// cut:, stall: and rate: in commands.yaml); kept by the router's model and
// pointed to by each answer it shapes.
struct AnswerFaults {
    enum class End { None, Close, Reset };
    End end = End::None;               // fault: the session ends once the answer is out
    std::optional<std::size_t> cut;    // the session ends after this many bytes of the answer
    double stall = 0;                  // seconds the answer stops halfway
    double rate = 0;                   // bytes a second of the answer; 0: as fast as the client reads
};

// What a command-driven router does to each session, on a count, on a clock
// or by itself (commands.yaml's faults: and messages:).
struct Schedule {
    struct Fault {
        std::optional<std::size_t> after;   // after the answer to the session's Nth command
        double at = 0;                      // else this many seconds into the session
        AnswerFaults::End end = AnswerFaults::End::Close;
    };
    struct Message {
        double every = 0;     // seconds, the first that long into the session
        std::string text;     // sent as it is (line ends as CR LF)
    };
    std::vector<Fault> faults;
    std::vector<Message> messages;
};

struct Faults {
    using End = AnswerFaults::End;
    End end = End::None;       // after `after` items: a close (FIN) or a reset (RST)
    std::size_t after = 1;
    double rate = 0;           // bytes a second of every item or answer; 0: as fast as the client reads
    double jitter = 0;         // each pause varies by up to this many seconds either way
    std::uint64_t seed = 0;    // of the variation: a run with the same seed pauses the same
    // A command-driven router's faults and messages; null when it has none, and
    // then its sessions spend nothing on them.
    std::shared_ptr<const Schedule> schedule;

    static std::string_view name(End end) { return end == End::Reset ? "reset" : "close"; }
};

} // namespace zentrel::console
