// session_conversation.cpp: a command-driven router's session: each line the client types answered in turn.
#include "console/session.h"

#include "console/session_waits.h"

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
        Answer answer = dialogue.start();
        for (;;) {
            const double delay = answer.delay ? *answer.delay : m_setup.delay ? m_setup.delay() : 0.0;
            if (!co_await Pause{*this, delay}) {
                end(EndReason::Stopped);
                co_return;
            }
            // A client that left during the pause gets no answer.
            if (!connection || connection->isGone()) {
                end(EndReason::ClientGone);
                co_return;
            }
            if (!answer.bytes.empty())
                sendExtra(Extra::Answer, answer.bytes);
            if (answer.end) {
                connection->close();
                end(*answer.end);
                co_return;
            }
            std::optional<Answer> next;
            for (;;) {
                if (m_stopping) {
                    end(EndReason::Stopped);
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
        if (!keys)
            m_editor->setSecret(dialogue.nextLineSecret());
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
        else
            continue;
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
    if (answer.report)
        m_sink->command(*answer.report);
    if (!answer.warning.empty())
        m_sink->warning(answer.warning);
}

} // namespace zentrel::console
