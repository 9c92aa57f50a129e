// serve_process.h: one fleet server (zentrel-serve or the asyncio peer) serving one router directory.
#pragma once
#include "child_process.h"
#include "script.h"
#include "server_events.h"
#include "stream_client.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace zentrel::bench {

struct ListeningRouter
{
    std::string name;
    std::string address;
    int port = 0;
};

// A router directory's files, by name: what the fleet's servers are started on.
using RouterFiles = std::vector<std::pair<std::string, std::string>>;
// RESPONSE.TXT and zentrel.ini with the Delay given.
RouterFiles scriptFiles(const Script &script, const std::string &delayText);

// Lays out `directory`/router (RESPONSE.TXT and zentrel.ini, or the files given), starts
// `command` with `--events FILE` and that directory appended, and follows the
// events as the server writes them.
class ServeProcess
{
public:
    ServeProcess(std::vector<std::string> command, std::string directory);

    bool start(const Script &script, const std::string &delayText, std::string &error);
    // The same with the router directory's files given: name and content each.
    bool start(const RouterFiles &files, std::string &error);
    // Waits for the ready event, collecting the listening routers on the way.
    bool waitReady(double timeout, std::string &error);
    // Every event that has been written since the last call, in order.
    void readEvents(const std::function<void(const ServerEvent &)> &handle);

    pid_t pid() const { return m_child.pid(); }
    const std::vector<ListeningRouter> &routers() const { return m_routers; }
    double readySeconds() const { return m_readyAt - m_child.startedAt(); }
    int unreadableLines() const { return m_unreadable; }
    bool running(std::string *how = nullptr) { return m_child.running(how); }
    StopOutcome stop(double grace) { return m_child.stop(grace); }
    std::string logTail(std::size_t bytes = 2000) const { return m_child.logTail(bytes); }

private:
    std::vector<std::string> m_command;
    std::string m_directory;
    EventsTail m_events;
    std::vector<ListeningRouter> m_routers;
    ChildProcess m_child;
    int m_unreadable = 0;
    double m_readyAt = 0;
};

// Where a client reaches each of the server's routers.
std::vector<Endpoint> endpointsOf(const ServeProcess &process);

} // namespace zentrel::bench
