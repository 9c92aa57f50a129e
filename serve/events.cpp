// events.cpp: what zentrel-serve tells its caller: JSON Lines events, or human lines and a live status line.
#include "serve/events.h"

#include "platform/posix/line_writer.h"
#include "platform/posix/output_files.h"
#include "serve/json.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace zentrel::serve {

using platform::writeAll;

namespace {

constexpr double RedrawEvery = 0.1;
constexpr std::string_view ClearLine = "\r\033[K";

double unixNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// As "%.*f" prints it, without printf's cost on every event.
void appendFixed(std::string &out, double value, int decimals)
{
    char text[400];   // room for the largest double with its decimals
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out += end.ec == std::errc() ? std::string_view(text, std::size_t(end.ptr - text)) : std::string_view("0");
}

std::string fixed(double value, int decimals)
{
    std::string text;
    appendFixed(text, value, decimals);
    return text;
}

void appendField(std::string &json, std::string_view key, std::string_view text)
{
    json += ",\"";
    json += key;
    json += "\":";
    appendJsonString(json, text);
}

void appendNumber(std::string &json, std::string_view key, std::string_view number)
{
    json += ",\"";
    json += key;
    json += "\":";
    json += number;
}

void appendFixed(std::string &json, std::string_view key, double value, int decimals)
{
    json += ",\"";
    json += key;
    json += "\":";
    appendFixed(json, value, decimals);
}

std::string eventHead(std::string_view name)
{
    std::string json;
    json.reserve(256);   // most events fit: one allocation each
    json += "{\"event\":";
    appendJsonString(json, name);
    return json;
}

// What a person reads of a session's name: "r1 session 3 from 127.0.0.1:40000".
std::string sessionName(const console::SessionInfo &info)
{
    std::string name = info.router + " session " + std::to_string(info.number);
    if (!info.peer.empty())
        name += " from " + info.peer;
    return name;
}

std::string counted(std::uint64_t count, const char *noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace

EventLog::EventLog(platform::EventLoop &loop, Setup setup) : m_loop(loop), m_setup(setup) {}

EventLog::~EventLog()
{
    if (m_redraw)
        m_loop.cancel(m_redraw);
}

void EventLog::emit(std::string json)
{
    json += "}\n";
    if (m_setup.writer) {
        m_setup.writer->write(json);
        return;
    }
    if (!writeAll(m_setup.eventsFd, json) && !m_writeFailed) {
        m_writeFailed = true;
        error(std::string("the events could not be written: ") + std::strerror(errno));
    }
}

void EventLog::human(std::string_view line)
{
    std::string text;
    if (m_statusShown)
        text += ClearLine;
    text += "zentrel-serve: ";
    text += line;
    text += '\n';
    m_statusShown = false;
    toStderr(text);
    statusChanged();
}

void EventLog::error(std::string_view text)
{
    human(text);
}

void EventLog::listening(const std::string &router, const std::string &address, int port,
                         std::string_view protocol, std::string_view fingerprint)
{
    // A router's SSH port is the same router again.
    if (protocol != "ssh")
        ++m_listening;
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("listening");
        appendField(json, "router", router);
        appendField(json, "address", address);
        appendNumber(json, "port", std::to_string(port));
        appendField(json, "protocol", protocol);
        if (!fingerprint.empty())
            appendField(json, "fingerprint", fingerprint);
        emit(std::move(json));
        statusChanged();
        return;
    }
    const bool v6 = address.find(':') != std::string::npos;
    human(router + " listening on " + (v6 ? "[" + address + "]" : address) + ":"
          + std::to_string(port) + " (" + std::string(protocol)
          + (fingerprint.empty() ? "" : ", host key " + std::string(fingerprint)) + ")");
}

void EventLog::ready()
{
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("ready");
        appendNumber(json, "routers", std::to_string(m_listening));
        appendNumber(json, "seed", std::to_string(m_setup.seed));
        appendFixed(json, "time", unixNow(), 6);
        emit(std::move(json));
    }
    statusChanged();
}

void EventLog::routerStopped(const std::string &router)
{
    if (m_listening > 0)
        --m_listening;
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("router-stopped");
        appendField(json, "router", router);
        emit(std::move(json));
    }
    statusChanged();
}

void EventLog::stopping(std::string_view why)
{
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("stopping");
        appendField(json, "reason", why);
        appendFixed(json, "time", unixNow(), 6);
        emit(std::move(json));
    }
}

void EventLog::exiting(int status)
{
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("exit");
        appendNumber(json, "status", std::to_string(status));
        appendNumber(json, "sessions", std::to_string(m_ended));
        emit(std::move(json));
    }
}

void EventLog::sessionStarted(const console::SessionInfo &info)
{
    ++m_active;
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("session-start");
        appendField(json, "router", info.router);
        appendNumber(json, "session", std::to_string(info.number));
        appendField(json, "peer", info.peer);
        appendFixed(json, "time", info.startedAt, 6);
        emit(std::move(json));
    }
    statusChanged();
}

void EventLog::sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end,
                            const SessionOutcome &outcome)
{
    if (m_active > 0)
        --m_active;
    ++m_ended;
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("session-end");
        appendField(json, "router", info.router);
        appendNumber(json, "session", std::to_string(info.number));
        appendField(json, "peer", info.peer);
        appendField(json, "reason", console::reasonName(end.reason));
        appendNumber(json, "items_sent", std::to_string(end.itemsSent));
        appendNumber(json, "items", std::to_string(end.items));
        appendNumber(json, "bytes_in", std::to_string(end.bytesIn));
        appendNumber(json, "bytes_out", std::to_string(end.bytesOut));
        appendFixed(json, "seconds", end.seconds, 6);
        if (!end.failure.empty())
            appendField(json, "failure", end.failure);
        if (end.commands) {
            appendNumber(json, "commands", std::to_string(end.commands->commands));
            appendNumber(json, "errors", std::to_string(end.commands->errors));
            appendField(json, "mode", end.commands->mode);
        }
        json += outcome.jsonFields();
        emit(std::move(json));
        statusChanged();
        return;
    }
    // A command-driven router plays no items: its lines are what it answered.
    const std::string done = end.commands
        ? counted(end.commands->commands, "command") + " (" + counted(end.commands->errors, "error")
              + "), in mode " + end.commands->mode
        : std::to_string(end.itemsSent) + " of " + std::to_string(end.items) + " items";
    std::string line = sessionName(info) + ": " + console::reasonName(end.reason) + " after "
                       + fixed(end.seconds, 3) + " s, " + done + ", " + std::to_string(end.bytesOut)
                       + " bytes out, " + std::to_string(end.bytesIn) + " bytes in";
    if (!end.failure.empty())
        line += " (" + end.failure + ")";
    human(line);
}

void EventLog::command(const console::SessionInfo &info, const console::CommandReport &report)
{
    if (m_setup.eventsFd < 0)
        return;
    std::string json = eventHead("command");
    appendField(json, "router", info.router);
    appendNumber(json, "session", std::to_string(info.number));
    appendField(json, "mode", report.mode);
    appendField(json, "line", report.line);
    if (report.matched)
        appendField(json, "matched", *report.matched);
    else
        appendNumber(json, "matched", "null");
    if (!report.error.empty())
        appendField(json, "error", report.error);
    if (report.config)
        appendNumber(json, "config", "true");
    if (report.secret)
        appendNumber(json, "secret", "true");
    if (report.reply)
        appendNumber(json, "reply", "true");
    appendFixed(json, "time", unixNow(), 6);
    emit(std::move(json));
}

void EventLog::warning(const console::SessionInfo &info, std::string_view text)
{
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("warning");
        appendField(json, "router", info.router);
        if (info.number)
            appendNumber(json, "session", std::to_string(info.number));
        appendField(json, "text", text);
        emit(std::move(json));
    }
    std::string line = info.number ? sessionName(info) : info.router;
    line += ": warning: ";
    line += text;
    human(line);
}

void EventLog::checkFailed(const console::SessionInfo &info, std::string_view reason, bool closing)
{
    if (m_setup.eventsFd >= 0) {
        std::string json = eventHead("check-failed");
        appendField(json, "router", info.router);
        appendNumber(json, "session", std::to_string(info.number));
        appendField(json, "reason", reason);
        if (closing)
            appendNumber(json, "closing", "true");
        appendFixed(json, "time", unixNow(), 6);
        emit(std::move(json));
        return;
    }
    human(sessionName(info) + ": failed its check: " + std::string(reason) + (closing ? "; closing it" : ""));
}

void EventLog::fault(const console::SessionInfo &info, const console::FaultReport &report)
{
    if (m_setup.eventsFd < 0)
        return;   // the session's end line says "fault"
    std::string json = eventHead("fault");
    appendField(json, "router", info.router);
    appendNumber(json, "session", std::to_string(info.number));
    appendField(json, "fault", report.kind);
    if (report.item)
        appendNumber(json, "item", std::to_string(*report.item));
    else if (!report.command.empty())
        appendField(json, "command", report.command);
    appendFixed(json, "time", unixNow(), 6);
    emit(std::move(json));
}

void EventLog::statusChanged()
{
    if (!m_setup.statusLine || m_redraw)
        return;
    // Redrawn from the loop: a burst of sessions costs one redraw, not one each.
    m_redraw = m_loop.at(m_loop.now() + (m_statusShown ? RedrawEvery : 0), [this] {
        m_redraw = 0;
        drawStatus();
    });
}

void EventLog::drawStatus()
{
    std::string text(ClearLine);
    text += "zentrel-serve: " + counted(m_listening, "router") + " listening, "
            + counted(m_active, "session") + " active, " + std::to_string(m_ended) + " ended";
    m_statusShown = toStderr(text);
}

// Nothing else to tell when stderr itself has gone.
bool EventLog::toStderr(std::string_view text)
{
    if (!m_setup.stderrWriter)
        return writeAll(STDERR_FILENO, text);
    m_setup.stderrWriter->write(text);
    return !m_setup.stderrWriter->failed();
}

void EventLog::finish()
{
    if (m_redraw) {
        m_loop.cancel(m_redraw);
        m_redraw = 0;
    }
    if (m_statusShown)
        toStderr(ClearLine);
    m_statusShown = false;
}

} // namespace zentrel::serve
