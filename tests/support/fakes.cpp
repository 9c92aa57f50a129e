// fakes.cpp: the fake platform services of the logic tests.
#include "tests/support/fakes.h"

#include "platform/error.h"

#include <algorithm>
#include <utility>

namespace zentrel::tests {

void FakeEventLoop::run(double until)
{
    for (;;) {
        runPosted();
        if (m_timers.empty() || m_timers.next() > until)
            return;
        if (m_timers.next() > m_now) {
            m_now = m_timers.next();
            ++m_yields;
        }
        if (std::function<void()> function = m_timers.takeDue(m_now))
            function();
    }
}

void FakeEventLoop::runPosted()
{
    while (!m_posted.empty()) {
        auto function = std::move(m_posted.front());
        m_posted.pop_front();
        function();
    }
}

void FakeSocketArray::create(int index)
{
    m_calls.push_back("create " + std::to_string(index));
    if (m_elements.count(index))
        throw platform::Error(360, "element already exists");
    m_elements[index] = Element{};
}

void FakeSocketArray::setLocalPort(int index, std::int32_t port)
{
    m_calls.push_back("port " + std::to_string(index) + " " + std::to_string(port));
    if (port < 0 || port > 65535)
        throw platform::Error(platform::InvalidPropertyValue, "invalid port");
    m_elements[index].localPort = port;
}

void FakeSocketArray::listen(int index)
{
    m_calls.push_back("listen " + std::to_string(index));
    if (listenFailsWith)
        throw platform::Error(listenFailsWith, "listen failed");
    m_elements[index].state = Listening;
}

void FakeSocketArray::accept(int index, std::int32_t requestId)
{
    m_calls.push_back("accept " + std::to_string(index) + " " + std::to_string(requestId));
    if (acceptFailsWith)
        throw platform::Error(acceptFailsWith, "accept failed");
    Element &element = m_elements.at(index);
    element.requestId = requestId;
    element.state = Connected;
}

bool FakeSocketArray::waitingClientGone(std::int32_t requestId)
{
    if (m_leftWaiting.count(requestId) == 0)
        return false;
    m_calls.push_back("dropped " + std::to_string(requestId));
    return true;
}

void FakeSocketArray::sendData(int index, std::string_view bytes)
{
    if (sendFailsWith)
        throw platform::Error(sendFailsWith, "send failed");
    m_elements.at(index).sent.append(bytes);
}

std::string FakeSocketArray::getData(int index)
{
    auto found = m_elements.find(index);
    if (found == m_elements.end())
        return {};
    return std::exchange(found->second.incoming, {});
}

void FakeSocketArray::close(int index)
{
    m_calls.push_back("close " + std::to_string(index));
    auto found = m_elements.find(index);
    if (found != m_elements.end()) {
        found->second.state = Closed;
        ++found->second.closes;
    }
}

int FakeSocketArray::state(int index) const
{
    auto found = m_elements.find(index);
    return found == m_elements.end() ? Closed : found->second.state;
}

void FakeSocketArray::closeAll()
{
    m_calls.push_back("closeAll");
    for (auto &[index, element] : m_elements)
        element.state = Closed;
}

std::int32_t FakeSocketArray::clientConnects()
{
    const std::int32_t id = ++m_nextRequest;
    if (m_events.connectionRequest)
        m_events.connectionRequest(0, id);
    return id;
}

void FakeSocketArray::clientSends(int index, const std::string &bytes)
{
    m_elements.at(index).incoming += bytes;
    if (m_events.dataArrival)
        m_events.dataArrival(index, static_cast<long>(bytes.size()));
}

void FakeSocketArray::clientCloses(int index)
{
    m_elements.at(index).state = Closed;
    if (m_events.closed)
        m_events.closed(index);
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
