// asciicast.cpp: the header and event lines of a cast, each written whole or reported.
#include "serve/asciicast.h"

#include "platform/posix/output_files.h"
#include "serve/json.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace zentrel::serve {

namespace {

// Seconds with microseconds, never negative or "nan", which JSON lacks.
void appendSeconds(std::string &out, double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    char text[40];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    out += text;
}

} // namespace

CastWriter::CastWriter(const std::string &path, const CastHeader &header,
                       std::function<void(const std::string &)> onFailure)
    : m_path(path), m_onFailure(std::move(onFailure))
{
    std::string error;
    m_fd = platform::createOutputFile(path, error);
    if (m_fd < 0) {
        m_failed = true;
        if (m_onFailure)
            m_onFailure(error);
        return;
    }
    std::string line = "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": ";
    line += std::to_string(header.timestamp);
    line += ", \"title\": ";
    appendJsonString(line, header.title);
    if (header.router) {
        line += ", \"port\": " + std::to_string(header.router->port) + ", \"delay\": ";
        char delay[40];
        std::snprintf(delay, sizeof delay, "%.15g",
                      std::isfinite(header.router->delay) ? header.router->delay : 0.0);
        line += delay;
    }
    line += "}\n";
    writeLine(line);
}

CastWriter::~CastWriter()
{
    if (m_fd >= 0 && ::close(m_fd) != 0 && !m_failed)
        fail(std::string("cannot close: ") + std::strerror(errno));
}

void CastWriter::event(double seconds, char kind, std::string_view data)
{
    if (m_failed)
        return;
    m_line.clear();
    m_line += '[';
    appendSeconds(m_line, seconds);
    m_line += ", \"";
    m_line += kind;
    m_line += "\", ";
    appendJsonString(m_line, data);
    m_line += "]\n";
    writeLine(m_line);
}

void CastWriter::writeLine(const std::string &line)
{
    if (!m_failed && !platform::writeAll(m_fd, line))
        fail(std::string("cannot write: ") + std::strerror(errno));
}

void CastWriter::fail(const std::string &what)
{
    m_failed = true;
    if (m_onFailure)
        m_onFailure(m_path + ": " + what);
}

} // namespace zentrel::serve
