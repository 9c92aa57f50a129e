// fakes.cpp: the fake platform services of the logic tests.
#include "tests/support/fakes.h"

#include "platform/error.h"

#include <algorithm>
#include <utility>

namespace zentrel::tests {

namespace {

class FakeConnection : public console::Connection
{
public:
    FakeConnection(const platform::EventLoop &loop, std::shared_ptr<FakeClient> client)
        : m_loop(loop), m_client(std::move(client))
    {
    }
    void setEvents(Events events) override { m_client->events = std::move(events); }
    void send(std::string_view bytes) override
    {
        if (m_client->gone)
            return;
        m_client->sent.append(bytes);
        m_client->sendTimes.push_back(m_loop.now());
    }
    bool isGone() const override { return m_client->gone; }
    void close() override
    {
        m_client->closeTimes.push_back(m_loop.now());
        m_client->gone = true;
        m_client->events = {};
    }
    std::string peer() const override { return "127.0.0.1:40000"; }

private:
    const platform::EventLoop &m_loop;
    std::shared_ptr<FakeClient> m_client;
};

} // namespace

void FakeNetwork::listen(std::int32_t port)
{
    m_calls.push_back("listen " + std::to_string(port));
    if (listenFailsWith)
        throw platform::Error(listenFailsWith, "listen failed");
    m_listening = true;
}

void FakeNetwork::close()
{
    m_calls.push_back("close");
    m_listening = false;
}

int FakeNetwork::clientConnects()
{
    m_clients.push_back(std::make_shared<FakeClient>());
    if (m_accepted)
        m_accepted(std::make_unique<FakeConnection>(m_loop, m_clients.back()), "127.0.0.1:40000");
    return clients();
}

void FakeNetwork::clientSends(int number, const std::string &bytes)
{
    FakeClient &sender = client(number);
    if (!sender.gone && sender.events.data)
        sender.events.data(bytes);
}

void FakeNetwork::clientCloses(int number)
{
    FakeClient &leaving = client(number);
    if (std::exchange(leaving.gone, true))
        return;
    if (leaving.events.gone) {
        const auto gone = leaving.events.gone;
        gone();
    }
}

platform::Dialogs::Answer FakeDialogs::messageBox(const std::string &text,
                                                  const std::string &title, Icon icon,
                                                  Buttons buttons)
{
    shown.push_back({text, title, icon, buttons});
    if (!answers.empty()) {
        Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
}

} // namespace zentrel::tests
