// session_conversation.cpp: a command-driven router's session: each line the client types answered in turn.
#include "console/session.h"

#include "console/session_waits.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace zentrel::console {

Task Session::converse()
{
    Connection *connection = m_setup.connection.get();
    Dialogue &dialogue = *m_setup.dialogue;
    try {
        if (connection && m_setup.typing.carrier == Carrier::Telnet)
            sendExtra(Extra::Telnet, m_telnetOptions.offer());
        if (m_setup.faults.schedule)
            armSchedule();
        Answer answer = dialogue.start();
        for (;;) {
            const double delay = answer.delay ? *answer.delay : m_setup.delay ? m_setup.delay() : 0.0;
            if (!co_await Pause{*this, vary(delay)}) {
                endStopped();
                co_return;
            }
            // A client that left during the pause gets no answer.
            if (!connection || connection->isGone()) {
                end(EndReason::ClientGone);
                co_return;
            }
            if (answer.otherPrompt)
                m_sink->fault({"prompt", {}, m_lastCommand});
            if (!shaped(answer)) {
                if (!answer.bytes.empty())
                    sendExtra(Extra::Answer, answer.bytes);
            } else {
                // A piece at a time: cut short, stalled halfway, trickled, or with
                // the router's messages between its lines.
                const AnswerFaults *faults = answer.faults;
                const std::size_t size = faults && faults->cut ? std::min(*faults->cut, answer.bytes.size())
                                                               : answer.bytes.size();
                std::size_t stallAt = faults && faults->stall > 0 ? size / 2 : std::string::npos;
                m_answering = true;
                for (std::size_t at = 0; at < size;) {
                    double wait = 0;
                    if (at == stallAt) {
                        m_sink->fault({"stall", {}, m_lastCommand});
                        wait = vary(faults->stall);
                        stallAt = std::string::npos;
                    } else {
                        const std::size_t n = piece(answer, at, size, stallAt);
                        sendExtra(Extra::Answer, std::string_view(answer.bytes).substr(at, n));
                        at += n;
                        if (m_messagesPending && answer.bytes[at - 1] == '\n')
                            sendMessages();
                        const double rate = faults && faults->rate > 0 ? faults->rate : m_setup.faults.rate;
                        if (rate > 0 && at < size)
                            wait = double(n) / rate;
                    }
                    if (!co_await Pause{*this, wait}) {
                        endStopped();
                        co_return;
                    }
                    if (connection->isGone()) {
                        end(EndReason::ClientGone);
                        co_return;
                    }
                }
                m_answering = false;
                if (m_messagesPending)
                    sendMessages();
            }
            if (answer.end) {
                connection->close();
                end(*answer.end);
                co_return;
            }
            if (answered(answer))
                co_return;
            std::optional<Answer> next;
            for (;;) {
                if (m_stopping) {
                    endStopped();
                    co_return;
                }
                if (connection->isGone()) {
                    end(EndReason::ClientGone);
                    co_return;
                }
                // Nothing more is read from a client that does not read what it is sent.
                if (connection->queued() > Connection::HighWater) {
                    updateHold();
                    co_await Drain{*this};
                    continue;
                }
                if ((next = takeInput()))
                    break;
                // The client will type no further line: what it typed has been answered.
                if (m_inputEnded) {
                    connection->close();
                    end(EndReason::ClientGone);
                    co_return;
                }
                co_await Typing{*this};
            }
            answer = std::move(*next);
        }
    } catch (const std::exception &failure) {
        if (connection)
            connection->close();
        end(EndReason::Failed, failure.what());
    }
}

std::optional<Answer> Session::takeInput()
{
    Dialogue &dialogue = *m_setup.dialogue;
    if (!m_editor)
        m_editor = std::make_unique<LineEditor>(m_setup.typing);
    while (m_pendingAt < m_pending.size()) {
        const std::string_view rest = std::string_view(m_pending).substr(m_pendingAt);
        const bool keys = dialogue.wantsKeys();
        if (!keys) {
            m_editor->setSecret(dialogue.nextLineSecret());
            m_editor->setCtrlZ(dialogue.ctrlZEndsLine());
            m_editor->setHelp(dialogue.helpKey());
        }
        const Edited &edited = keys ? m_editor->feedKey(rest) : m_editor->feedLine(rest);
        m_pendingAt += edited.read;
        m_sink->typed({rest.substr(0, edited.read), edited.shown, edited.telnet, edited.lines});
        // The Telnet commands came before the line they were read with.
        if (!edited.telnet.empty() && m_setup.typing.carrier == Carrier::Telnet) {
            if (const std::string replies = m_telnetOptions.answer(edited.telnet); !replies.empty())
                sendExtra(Extra::Telnet, replies);
        }
        if (!edited.echo.empty())
            sendExtra(Extra::Echo, edited.echo);
        Answer answer;
        if (edited.key)
            answer = dialogue.key(*edited.key);
        else if (!edited.lines.empty())
            answer = dialogue.line(edited.lines.front());
        else if (edited.help)
            answer = dialogue.help(*edited.help, edited.tab);
        else
            continue;
        if (!answer.typeIn.empty())
            m_editor->typeIn(answer.typeIn);
        // A key that does nothing (the LF of a CR LF) waits for the next.
        if (answer.bytes.empty() && !answer.end && !answer.report)
            continue;
        told(answer);
        // A line its router's check forbids (Mismatch=Close) gets its answer, then the close.
        if (m_sink->endNow() && !answer.end)
            answer.end = EndReason::Mismatch;
        return answer;
    }
    updateHold();
    return std::nullopt;
}

void Session::told(const Answer &answer)
{
    if (answer.report) {
        m_sink->command(*answer.report);
        if (m_setup.faults.schedule || answer.faults || answer.otherPrompt)
            m_lastCommand = answer.report->secret ? "***" : answer.report->line;
    }
    if (!answer.warning.empty())
        m_sink->warning(answer.warning);
}

} // namespace zentrel::console
