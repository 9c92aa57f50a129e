// serve_process.h: one fleet server (zentrel-serve or the asyncio peer) serving one router directory.
#pragma once
#include "child_process.h"
#include "script.h"
#include "server_events.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrel::bench {

struct ListeningRouter
{
    std::string name;
    std::string address;
    int port = 0;
};

// Lays out `directory`/router (RESPONSE.TXT and zentrel.ini), starts
// `command` with `--events FILE` and that directory appended, and follows the
// events as the server writes them.
class ServeProcess
{
public:
    ServeProcess(std::vector<std::string> command, std::string directory);

    bool start(const Script &script, const std::string &delayText, std::string &error);
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

} // namespace zentrel::bench
