// session.cpp: one client served: what both kinds of session share, and the script played item by item.
#include "console/session.h"

#include "console/session_waits.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

namespace zentrel::console {

Session::Session(platform::EventLoop &loop, SessionObserver &observer, SessionSetup setup)
    : m_loop(loop), m_setup(std::move(setup)), m_observer(observer),
      m_jitter(m_setup.faults.seed ^ std::hash<std::string>{}(m_setup.info.router)
               ^ (m_setup.info.number * 0x9E3779B97F4A7C15ull))
{
}

Session::~Session()
{
    for (platform::EventLoop::TimerId timer : {m_timer, m_faultTimer, m_messageTimer})
        if (timer)
            m_loop.cancel(timer);
    if (Connection *connection = m_setup.connection.get())
        connection->setEvents({});
}

void Session::start(std::string earlyInput, std::string_view warning)
{
    m_sink = m_observer.sessionStarted(m_setup.info);
    if (!m_sink)
        m_sink = std::make_unique<SessionSink>();
    if (Connection *connection = m_setup.connection.get()) {
        Connection::Events events;
        events.data = [this](std::string_view chunk) { onData(chunk); };
        events.gone = [this] { onGone(); };
        // Only a session waiting for room wakes: a pause is never cut short.
        events.drained = [this] {
            m_full = false;
            updateHold();
            if (m_draining)
                wake();
        };
        if (m_setup.pace == Pace::Enter || m_setup.dialogue)
            events.ended = [this] { onEnded(); };
        connection->setEvents(std::move(events));
    }
    if (!warning.empty())
        m_sink->warning(warning);
    if (!earlyInput.empty())
        onData(earlyInput);
    m_task = m_setup.dialogue ? converse() : play();
}

void Session::stop()
{
    if (m_ended)
        return;
    m_stopping = true;
    if (m_timer) {
        m_loop.cancel(m_timer);
        m_timer = 0;
    }
    // A session that is not suspended is running right now (stop() came from
    // inside one of its reports): it sees the stop at its next pause.
    wake();
}

void Session::wake()
{
    if (std::coroutine_handle<> handle = std::exchange(m_suspended, {}))
        handle.resume();
}

void Session::onData(std::string_view chunk)
{
    if (m_ended)
        return;
    m_end.bytesIn += chunk.size();
    if (m_setup.dialogue) {
        // Read when the router takes its next line; what it has read goes.
        m_pending.erase(0, std::exchange(m_pendingAt, 0));
        m_pending.append(chunk);
        updateHold();
        if (m_typing)
            wake();
        return;
    }
    // Made with the first bytes: a session whose client types nothing costs none.
    if (!m_editor) {
        m_editor = std::make_unique<LineEditor>(m_setup.typing);
        m_editor->setSecret(m_passwordPrompt);
    }
    const Edited &edited = m_editor->feed(chunk);
    m_sink->typed({chunk, edited.shown, edited.telnet, edited.lines});
    if (m_sink->endNow()) {
        m_mismatch = true;
        stop();
        return;
    }
    // The echo goes out before any answer: a client that waits for its own
    // line back before it reads the answer sees them in a router's order.
    if (!edited.echo.empty())
        sendExtra(Extra::Echo, edited.echo);
    if (m_setup.pace == Pace::Enter && !edited.lines.empty()) {
        for (const TypedLine &line : edited.lines)
            m_lines.push_back(!line.text.empty());
        if (m_typing)
            wake();
    }
    if (!m_ended)
        updateHold();
}

void Session::onEnded()
{
    m_inputEnded = true;
    if (m_typing)
        wake();
}

// The pause before an item: the router's, varied by its jitter.
double Session::pause()
{
    return vary(m_setup.delay ? m_setup.delay() : 0.0);
}

double Session::vary(double delay)
{
    if (m_setup.faults.jitter > 0) {
        // SplitMix64: eight bytes of state a session, the same draws for the same seed.
        std::uint64_t z = (m_jitter += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        const double unit = double(z >> 11) * 0x1.0p-53;   // [0, 1)
        delay = std::max(0.0, delay + (2 * unit - 1) * m_setup.faults.jitter);
    }
    return delay;
}

bool Session::faultDue(std::size_t sent) const
{
    return m_setup.faults.end != Faults::End::None && sent == m_setup.faults.after && m_setup.connection;
}

void Session::fireFault(std::size_t sent)
{
    faultEnds({Faults::name(m_setup.faults.end), sent, {}}, m_setup.faults.end);
}

void Session::sendItem(std::size_t index, std::string_view item)
{
    Connection *connection = m_setup.connection.get();
    if (connection && !item.empty()) {
        connection->send(item);
        m_end.bytesOut += item.size();
    }
    reportItem(index, item);
}

void Session::reportItem(std::size_t index, std::string_view item)
{
    if (!item.empty()) {
        prompted(item);
        if (m_setup.pace == Pace::Enter)
            m_prompt = promptOf(item);
    }
    ++m_end.itemsSent;
    m_sink->itemSent(index + 1, item);
}

// The client was shown this prompt: what it types next may be a password.
void Session::prompted(std::string_view prompt)
{
    m_passwordPrompt = asksForPassword(prompt);
    if (m_editor)
        m_editor->setSecret(m_passwordPrompt);
}

void Session::sendExtra(Extra kind, std::string_view bytes)
{
    Connection *connection = m_setup.connection.get();
    if (!connection || connection->isGone())
        return;
    connection->send(bytes);
    m_end.bytesOut += bytes.size();
    m_sink->sent(kind, bytes);
    updateHold();
}

// Answers each bare Enter with the prompt while the client reads what it is
// sent; a command line is the client's turn.
Session::Turn Session::takeTurn()
{
    for (;;) {
        if (m_setup.connection->queued() > Connection::HighWater)
            return Turn::Full;
        if (m_lines.empty()) {
            updateHold();
            return Turn::None;
        }
        const bool command = m_lines.front();
        m_lines.pop_front();
        if (command) {
            updateHold();
            return Turn::Line;
        }
        if (!m_prompt.empty()) {
            prompted(m_prompt);
            sendExtra(Extra::Prompt, m_prompt);
        }
    }
}

void Session::updateHold()
{
    Connection *connection = m_setup.connection.get();
    if (!connection)
        return;
    // Full from past the high-water mark until the connection says it has
    // drained to the low one.
    m_full = m_full || connection->queued() > Connection::HighWater;
    const bool hold = m_full || m_lines.size() >= HeldAfterLines
                      || m_pending.size() - m_pendingAt >= HeldAfterBytes;
    if (hold != m_held) {
        m_held = hold;
        connection->holdInput(hold);
    }
}

void Session::onGone()
{
    if (m_ended)
        return;
    m_sink->clientGone();
    // A session held up by a full queue notices now; one in a pause at its next item.
    if (!m_timer)
        wake();
}

Task Session::play()
{
    const std::size_t items = m_setup.script ? m_setup.script->size() : 0;
    Connection *connection = m_setup.connection.get();
    try {
        for (std::size_t index = 0; index < items; ++index) {
            if (faultDue(index)) {
                fireFault(index);
                co_return;
            }
            if (m_setup.pace == Pace::Enter && connection && index > 0) {
                Turn turn = Turn::None;
                while ((turn = takeTurn()) != Turn::Line && !m_stopping && !connection->isGone()) {
                    if (turn == Turn::Full)
                        co_await Drain{*this};
                    else if (m_inputEnded)
                        break;
                    else
                        co_await Typing{*this};
                }
                if (m_stopping) {
                    endStopped();
                    co_return;
                }
                // A client that can type no further line never gets the next item.
                if (turn != Turn::Line) {
                    if (!connection->isGone())
                        connection->close();
                    end(EndReason::ClientGone);
                    co_return;
                }
            }
            if (!co_await Pause{*this, pause()}) {
                endStopped();
                co_return;
            }
            // A client that left during the pause: the item is neither sent nor reported.
            if (connection && connection->isGone()) {
                end(EndReason::ClientGone);
                co_return;
            }
            const std::string_view item = m_setup.script->item(index);
            if (m_setup.faults.rate > 0 && connection && !item.empty()) {
                // Trickled: a slice each tick, at the router's rate.
                const auto slice = std::max<std::size_t>(1, std::size_t(m_setup.faults.rate * RateTick));
                for (std::size_t at = 0; at < item.size(); at += slice) {
                    const std::string_view part = item.substr(at, slice);
                    connection->send(part);
                    m_end.bytesOut += part.size();
                    if (at + slice >= item.size())
                        break;
                    if (!co_await Pause{*this, double(part.size()) / m_setup.faults.rate}) {
                        endStopped();
                        co_return;
                    }
                    if (connection->isGone()) {
                        end(EndReason::ClientGone);
                        co_return;
                    }
                }
                reportItem(index, item);
            } else {
                sendItem(index, item);
            }
            if (connection && connection->queued() > Connection::HighWater) {
                updateHold();
                co_await Drain{*this};
                if (m_stopping) {
                    endStopped();
                    co_return;
                }
            }
        }
        if (faultDue(items)) {
            fireFault(items);
            co_return;
        }
        // What was sent still goes out before the connection is shut.
        if (connection)
            connection->close();
        end(EndReason::ScriptExhausted);
    } catch (const std::exception &failure) {
        if (connection)
            connection->close();
        end(EndReason::Failed, failure.what());
    }
}

// Stopped by the program, by a fault on the clock (the connection is shut
// already), or by the client's mismatch: then the client gets what was sent,
// and the close.
void Session::endStopped()
{
    Connection *connection = m_setup.connection.get();
    if (m_mismatch && connection && !connection->isGone())
        connection->close();
    end(m_faulted ? EndReason::Fault : m_mismatch ? EndReason::Mismatch : EndReason::Stopped);
}

void Session::end(EndReason reason, std::string failure)
{
    if (m_ended)
        return;
    m_ended = true;
    for (platform::EventLoop::TimerId *timer : {&m_timer, &m_faultTimer, &m_messageTimer})
        if (*timer)
            m_loop.cancel(std::exchange(*timer, 0));
    // What the client typed ahead of the router's last answer was typed all the same.
    if (m_pendingAt < m_pending.size()) {
        if (!m_editor)
            m_editor = std::make_unique<LineEditor>(m_setup.typing);
        m_editor->setEcho(false);
        const std::string_view rest = std::string_view(m_pending).substr(m_pendingAt);
        const Edited &edited = m_editor->feed(rest);
        m_sink->typed({rest, edited.shown, edited.telnet, edited.lines});
        m_pendingAt = m_pending.size();
    }
    // A last line the client typed without ending it still counts.
    if (m_setup.connection) {
        if (const std::optional<TypedLine> last = m_editor ? m_editor->finish() : std::nullopt)
            m_sink->typed({{}, {}, {}, std::span<const TypedLine>(&*last, 1)});
    }
    m_end.reason = reason;
    m_end.items = m_setup.script ? m_setup.script->size() : 0;
    m_end.seconds = m_loop.now() - m_setup.info.startedClock;
    m_end.failure = std::move(failure);
    if (m_setup.dialogue)
        m_end.commands = m_setup.dialogue->ended();
    m_sink->ended(m_end);
    m_sink.reset();
    if (m_setup.finished)
        m_loop.post(m_setup.finished);
}

} // namespace zentrel::console
