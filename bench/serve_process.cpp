// serve_process.cpp: starts a fleet server on a fresh router directory, follows its events, stops it.
#include "serve_process.h"

#include "clock.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace zentrel::bench {

ServeProcess::ServeProcess(std::vector<std::string> command, std::string directory)
    : m_command(std::move(command)), m_directory(std::move(directory)),
      m_events(m_directory + "/events.jsonl")
{
}

RouterFiles scriptFiles(const Script &script, const std::string &delayText)
{
    // The port is a placeholder: every run passes --port 0.
    return {{"RESPONSE.TXT", script.file}, {"zentrel.ini", "[Settings]\r\nTCP-Port=1101\r\nDelay=" + delayText + "\r\n"}};
}

bool ServeProcess::start(const Script &script, const std::string &delayText, std::string &error)
{
    return start(scriptFiles(script, delayText), error);
}

bool ServeProcess::start(const RouterFiles &files, std::string &error)
{
    const std::string router = m_directory + "/router";
    bool laidOut = ::mkdir(m_directory.c_str(), 0700) == 0 && ::mkdir(router.c_str(), 0700) == 0;
    for (const auto &[name, content] : files)
        laidOut = laidOut && writeFile(router + "/" + name, content);
    if (!laidOut) {
        error = "cannot lay out " + m_directory + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> command = m_command;
    command.insert(command.end(), {"--events", m_directory + "/events.jsonl", router});
    return m_child.start(std::move(command), {}, m_directory, m_directory + "/server.log", error);
}

void ServeProcess::readEvents(const std::function<void(const ServerEvent &)> &handle)
{
    while (const auto line = m_events.nextLine()) {
        if (const auto event = ServerEvent::parse(*line))
            handle(*event);
        else
            ++m_unreadable;
    }
}

bool ServeProcess::waitReady(double timeout, std::string &error)
{
    const double deadline = now() + timeout;
    bool ready = false;
    while (!ready && now() < deadline) {
        readEvents([&](const ServerEvent &event) {
            if (event.kind() == "listening")
                m_routers.push_back({event.text("router"), event.text("address"),
                                     int(event.number("port"))});
            else if (event.kind() == "ready" && !ready) {
                ready = true;
                m_readyAt = now();
            }
        });
        if (ready)
            break;
        std::string how;
        if (!running(&how)) {
            error = "the server ended before it was ready (" + how + ")";
            return false;
        }
        sleepFor(0.0005);
    }
    if (!ready) {
        error = "no ready event within " + std::to_string(int(timeout)) + " s";
        return false;
    }
    return true;
}

std::vector<Endpoint> endpointsOf(const ServeProcess &process)
{
    std::vector<Endpoint> endpoints;
    for (const ListeningRouter &router : process.routers())
        endpoints.push_back({router.address.empty() ? "127.0.0.1" : router.address, router.port});
    return endpoints;
}

} // namespace zentrel::bench
