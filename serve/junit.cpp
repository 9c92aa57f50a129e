// junit.cpp: the report's XML, kept per test case so each rewrite only joins strings.
#include "serve/junit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zentrel::serve {

namespace {

std::string secondsText(double seconds)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", seconds > 0 ? seconds : 0.0);
    return text;
}

std::string attribute(std::string_view name, std::string_view value)
{
    std::string out = " " + std::string(name) + "=\"";
    JunitReport::appendText(out, value, true);
    out += '"';
    return out;
}

bool writeAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

void JunitReport::appendText(std::string &out, std::string_view bytes, bool inAttribute)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += inAttribute ? "&quot;" : "\""; continue;
        case '\n': out += inAttribute ? "&#10;" : "\n"; continue;
        case '\t': out += inAttribute ? "&#9;" : "\t"; continue;
        default: break;
        }
        // CR is allowed but a parser turns it into LF; shown like the others.
        if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else if (byte >= 0xA0) {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        } else {
            out.push_back(c);
        }
    }
}

JunitReport::Suite &JunitReport::suite(const std::string &router)
{
    for (Suite &suite : m_suites)
        if (suite.name == router)
            return suite;
    m_suites.push_back(Suite{router, {}, 0, 0, 0});
    return m_suites.back();
}

void JunitReport::addRouter(const std::string &router)
{
    suite(router);
}

void JunitReport::add(const JunitCase &c)
{
    Suite &s = suite(c.router);
    std::string xml = "    <testcase" + attribute("classname", "zentrel." + c.router)
                      + attribute("name", "session " + std::to_string(c.session) + " from " + c.peer)
                      + attribute("time", secondsText(c.seconds)) + ">\n";
    if (c.outcome != JunitCase::Outcome::Pass) {
        const bool failure = c.outcome == JunitCase::Outcome::Fail;
        xml += failure ? "      <failure" : "      <error";
        xml += attribute("message", c.message);
        xml += attribute("type", failure ? "ExpectMismatch" : "SessionFailed") + ">";
        appendText(xml, c.details, false);
        xml += failure ? "</failure>\n" : "</error>\n";
        ++(failure ? s.failures : s.errors);
    }
    xml += "      <system-out>";
    for (const std::string &line : c.typed) {
        appendText(xml, line, false);
        xml += '\n';
    }
    if (c.typedCut)
        xml += "(the client typed more; only the lines above were kept)\n";
    xml += "</system-out>\n    </testcase>\n";
    s.cases.push_back(std::move(xml));
    s.seconds += c.seconds;
}

std::string JunitReport::xml() const
{
    std::size_t tests = 0, failures = 0, errors = 0;
    double seconds = 0;
    std::size_t size = 0;
    for (const Suite &s : m_suites) {
        tests += s.cases.size();
        failures += s.failures;
        errors += s.errors;
        seconds += s.seconds;
        for (const std::string &c : s.cases)
            size += c.size();
    }
    std::string out;
    out.reserve(size + 256 * (m_suites.size() + 1));
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + attribute("name", "zentrel-serve")
           + attribute("tests", std::to_string(tests)) + attribute("failures", std::to_string(failures))
           + attribute("errors", std::to_string(errors)) + attribute("time", secondsText(seconds)) + ">\n";
    for (const Suite &s : m_suites) {
        out += "  <testsuite" + attribute("name", s.name) + attribute("tests", std::to_string(s.cases.size()))
               + attribute("failures", std::to_string(s.failures))
               + attribute("errors", std::to_string(s.errors)) + attribute("skipped", "0")
               + attribute("time", secondsText(s.seconds)) + ">\n";
        for (const std::string &c : s.cases)
            out += c;
        out += "  </testsuite>\n";
    }
    out += "</testsuites>\n";
    return out;
}

std::string JunitReport::write() const
{
    const std::string temporary = m_path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return temporary + ": cannot create: " + std::strerror(errno);
    const bool written = writeAll(fd, xml()) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const std::string failure = temporary + ": cannot write: " + std::strerror(written ? errno : writeErrno);
        ::unlink(temporary.c_str());
        return failure;
    }
    if (::rename(temporary.c_str(), m_path.c_str()) != 0) {
        const std::string failure = m_path + ": cannot replace: " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return failure;
    }
    return {};
}

} // namespace zentrel::serve
