// session_faults.cpp: a command-driven session's faults on purpose: answers cut, stalled or trickled, faults on a count or a clock, the router's own messages.
#include "console/session.h"

#include <algorithm>
#include <utility>

namespace zentrel::console {

// An answer goes out in pieces when it has faults, when the router trickles,
// or when messages may come between its lines; any other in one send.
bool Session::shaped(const Answer &answer) const
{
    return answer.faults || m_setup.faults.schedule || m_setup.faults.rate > 0;
}

// The next piece of an answer from `at`: a slice at the rate, up to where it
// stalls, or up to the end of a line when a message waits for one.
std::size_t Session::piece(const Answer &answer, std::size_t at, std::size_t size, std::size_t stallAt) const
{
    std::size_t n = size - at;
    const double rate = answer.faults && answer.faults->rate > 0 ? answer.faults->rate : m_setup.faults.rate;
    if (rate > 0)
        n = std::min(n, std::max<std::size_t>(1, std::size_t(rate * RateTick)));
    if (stallAt > at && stallAt != std::string::npos)
        n = std::min(n, stallAt - at);
    if (m_messagesPending) {
        const std::size_t lineEnd = answer.bytes.find('\n', at);
        if (lineEnd != std::string::npos && lineEnd < at + n)
            n = lineEnd + 1 - at;
    }
    return n;
}

// The fault is told, then the connection goes: with an RST, or with a FIN
// once what was sent has gone out.
void Session::shutFor(const FaultReport &report, Faults::End how)
{
    m_sink->fault(report);
    Connection *connection = m_setup.connection.get();
    if (connection && !connection->isGone())
        how == Faults::End::Reset ? connection->reset() : connection->close();
}

void Session::faultEnds(const FaultReport &report, Faults::End how)
{
    shutFor(report, how);
    end(EndReason::Fault);
}

// An answer is out: the fault that ends the session there, if any (true then).
bool Session::answered(const Answer &answer)
{
    if (const AnswerFaults *faults = answer.faults) {
        if (faults->cut) {
            faultEnds({"cut", {}, m_lastCommand}, faults->end);
            return true;
        }
        if (faults->end != Faults::End::None) {
            faultEnds({Faults::name(faults->end), {}, m_lastCommand}, faults->end);
            return true;
        }
    }
    if (!m_setup.faults.schedule || !answer.report)
        return false;
    ++m_answers;
    for (const Schedule::Fault &fault : m_setup.faults.schedule->faults)
        if (fault.after && *fault.after == m_answers) {
            faultEnds({Faults::name(fault.end), {}, m_lastCommand}, fault.end);
            return true;
        }
    return false;
}

// The clock of the session's faults and messages starts at the accept.
void Session::armSchedule()
{
    const Schedule &schedule = *m_setup.faults.schedule;
    const double start = m_setup.info.startedClock;
    const Schedule::Fault *first = nullptr;
    for (const Schedule::Fault &fault : schedule.faults)
        if (!fault.after && (!first || fault.at < first->at))
            first = &fault;
    if (first)
        m_faultTimer = m_loop.at(start + first->at, [this, how = first->end] {
            m_faultTimer = 0;
            onFaultTimer(how);
        });
    // An exec request's output is its command's answer alone: no console logging in it.
    const Connection *connection = m_setup.connection.get();
    if (schedule.messages.empty() || (connection && connection->terminal().exec))
        return;
    for (const Schedule::Message &message : schedule.messages)
        m_messageDue.push_back(start + message.every);
    m_messageTimer = m_loop.at(*std::min_element(m_messageDue.begin(), m_messageDue.end()), [this] {
        m_messageTimer = 0;
        onMessageTimer();
    });
}

// Whatever the session is doing: the connection goes now, and the session
// ends at its next step.
void Session::onFaultTimer(Faults::End how)
{
    if (m_ended)
        return;
    shutFor({Faults::name(how), {}, m_lastCommand}, how);
    m_faulted = true;
    stop();
}

// After a prompt a message goes out at once; an answer going out, or one the
// router is still working on, takes it at its next line end.
void Session::onMessageTimer()
{
    if (m_ended)
        return;
    const std::vector<Schedule::Message> &messages = m_setup.faults.schedule->messages;
    const double now = m_loop.now();
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (m_messageDue[i] > now)
            continue;
        m_messagesPending |= std::uint64_t(1) << i;
        m_messageDue[i] = now + messages[i].every;
    }
    if (m_typing && !m_answering)
        sendMessages();
    m_messageTimer = m_loop.at(*std::min_element(m_messageDue.begin(), m_messageDue.end()), [this] {
        m_messageTimer = 0;
        onMessageTimer();
    });
}

// A client that does not read what it is sent misses the messages: its queue stays bounded.
void Session::sendMessages()
{
    const std::vector<Schedule::Message> &messages = m_setup.faults.schedule->messages;
    Connection *connection = m_setup.connection.get();
    for (std::size_t i = 0; i < messages.size(); ++i)
        if ((m_messagesPending >> i & 1) && connection && connection->queued() <= Connection::HighWater)
            sendExtra(Extra::Message, messages[i].text);
    m_messagesPending = 0;
}

} // namespace zentrel::console
