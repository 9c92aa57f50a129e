// fakes.h: stand-ins for the platform services the logic tests drive by hand.
#pragma once
#include "platform/dialogs.h"
#include "platform/instance_guard.h"
#include "platform/profile.h"
#include "platform/network.h"
#include "tests/support/fake_loop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::tests {

// One client of the fake network, as the test sees it: it outlives the
// connection the router owns, so a test reads what was sent after the end.
struct FakeClient {
    std::string sent;                // everything the program sent, in order
    std::vector<double> sendTimes;   // the loop's clock at each send
    std::vector<double> closeTimes;  // at each close from the program
    bool gone = false;               // the client has left (or the program closed)
    console::Connection::Events events;
};

// Records what start-up and shutdown do to the listening port; the test
// plays the clients, each handed to the window as a connection.
class FakeNetwork : public platform::Network
{
public:
    explicit FakeNetwork(const platform::EventLoop &loop) : m_loop(loop) {}

    void setAccepted(Accepted accepted) override { m_accepted = std::move(accepted); }
    void listen(std::int32_t port) override;
    void close() override;

    // A client connects: handed over at once. Returns its number, 1, 2, ...
    int clientConnects();
    // The client sends bytes, as one chunk.
    void clientSends(int client, const std::string &bytes);
    // The client hangs up: the connection raises `gone`.
    void clientCloses(int client);
    // The client is gone, and the connection says so only when asked.
    void clientVanishes(int client) { this->client(client).gone = true; }

    FakeClient &client(int client) { return *m_clients.at(std::size_t(client - 1)); }
    int clients() const { return int(m_clients.size()); }
    const std::vector<std::string> &calls() const { return m_calls; }
    bool listening() const { return m_listening; }

    int listenFailsWith = 0;   // error code listen() throws, 0 for none

private:
    const platform::EventLoop &m_loop;
    Accepted m_accepted;
    std::vector<std::shared_ptr<FakeClient>> m_clients;
    std::vector<std::string> m_calls;
    bool m_listening = false;
};

// Answers message boxes from a script and remembers every box shown.
class FakeDialogs : public platform::Dialogs
{
public:
    struct Shown {
        std::string text, title;
        Icon icon;
        Buttons buttons;
    };

    Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                      Buttons buttons) override;

    std::deque<Answer> answers;   // taken in order; Ok or No when empty
    std::vector<Shown> shown;
};

class FakeInstanceGuard : public platform::InstanceGuard
{
public:
    bool anotherCopyRunning() override { return another; }
    bool another = false;
};

// A profile with no settings in it, whose writes all fail.
struct FakeEmptyProfile : platform::Profile {
    std::string getString(std::string_view, std::string_view, std::string_view defaultValue,
                          std::size_t, const std::string &) override
    {
        return std::string(defaultValue);
    }
    bool writeString(std::string_view, std::string_view, std::string_view,
                     const std::string &) override
    {
        return false;
    }
};

} // namespace zentrel::tests
