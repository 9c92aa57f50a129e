// stream_client.h: a loopback client that receives one stream and checks it byte for byte.
#pragma once
#include "script.h"

#include <string>
#include <vector>

namespace zentrel::bench {

struct Endpoint
{
    std::string host;   // numeric, IPv4 or IPv6
    int port = 0;
};

// One connection from connect to the server's close.
struct StreamResult
{
    double started = 0;      // just before connect()
    double connected = 0;    // connect() returned
    double ended = 0;        // end of stream seen (or the client gave up)
    std::size_t received = 0;
    bool exact = false;      // every expected byte, nothing else, then the close
    bool timedOut = false;
    std::string problem;     // what was wrong, empty when exact
    // Arrival of each item's last byte, when asked for.
    std::vector<double> itemArrivals;

    double seconds() const { return ended - started; }
};

// Connects, reads until the server closes, and compares what arrived with
// script.wire. Never sends a byte.
StreamResult receiveStream(const Endpoint &endpoint, const Script &script, double timeout,
                           bool wantArrivals);

// The bytes as a report shows them: printable ASCII as it is, a quote or a
// backslash escaped, any other byte as \xNN.
std::string printable(const std::string &bytes);
// Describes the first difference between what was expected and what came.
std::string describeMismatch(const Script &script, std::size_t offset, const std::string &got);
// What is wrong with `size` bytes received at `offset` of the script's stream; empty when they are right.
std::string checkChunk(const Script &script, std::size_t offset, const char *data, std::size_t size);

} // namespace zentrel::bench
