// command_client.h: many loopback sessions from one thread that type command lines and time each answer.
#pragma once
#include "command_map.h"
#include "stream_client.h"

#include <functional>
#include <string>
#include <vector>

namespace zentrel::bench {

struct CommandPlan
{
    std::vector<Endpoint> endpoints;   // one per router
    // `perEndpoint` sessions on every endpoint, all open at once, their
    // connects spread evenly over `spread` seconds, taken round the routers.
    int perEndpoint = 1;
    double spread = 0;
    // Each session, once it has its prompt, types `lines` lines, one every
    // `interval` seconds (each session at its own phase; a line whose answer
    // is late goes as soon as the answer is in), then closes. 0 lines: the
    // sessions only take their prompt and sit idle.
    int lines = 0;
    double interval = 0.1;
    // An idle plan calls this once every session holds its prompt, before
    // the client closes them all.
    std::function<void()> whileIdle;
    double timeout = 60;               // for the whole run
};

struct CommandResult
{
    // From the moment a line end was handed to send() to the arrival of the
    // first byte of the line's answer (past its echo), in seconds: when the
    // kernel queued it for the client, so that the client's own delay in
    // reading, serving a thousand sessions on one thread, is not counted.
    std::vector<double> latencies;
    // The same up to the recv() that read it: the client's delay included.
    std::vector<double> readLatencies;
    int sessions = 0;
    int exact = 0;                      // every reply byte for byte (idle: the prompt came)
    int wrong = 0;
    std::vector<std::string> problems;  // the first few wrong sessions, spelled out
    double started = 0;
    double finished = 0;
    bool timedOut = false;
};

// Runs the plan to its end or its timeout. Line k of session s is the map's
// line (s * 7919 + k * 104729) mod its size, so every command gets typed.
CommandResult runCommands(const CommandPlan &plan, const CommandMap &map);

} // namespace zentrel::bench
