// junit.cpp: the report's XML, each case appended in place of the closing tag, the totals rewritten in place.
#include "serve/junit.h"

#include "platform/posix/output_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::serve {

namespace {

std::string secondsText(double seconds)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", seconds > 0 ? std::min(seconds, 1e15) : 0.0);
    return text;
}

std::string attribute(std::string_view name, std::string_view value)
{
    std::string out = " " + std::string(name) + "=\"";
    JunitReport::appendText(out, value, true);
    out += '"';
    return out;
}

constexpr std::size_t HeadSize = 256;   // the XML declaration and the root's start tag, padded
constexpr std::string_view Closing = "</testsuites>\n";
constexpr std::string_view CutNote = "(the client typed more; only the lines above were kept)\n";

bool writeAt(int fd, std::string_view bytes, std::uint64_t at)
{
    while (!bytes.empty()) {
        const ssize_t wrote = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
        at += static_cast<std::uint64_t>(wrote);
    }
    return true;
}

std::string_view cut(std::string_view text, std::size_t max, bool &wasCut)
{
    wasCut = text.size() > max;
    return text.substr(0, max);
}

std::string suiteTag(const std::string &router, std::uint64_t tests, std::uint64_t failures, std::uint64_t errors,
                     double seconds)
{
    return "  <testsuite" + attribute("name", router) + attribute("tests", std::to_string(tests))
           + attribute("failures", std::to_string(failures)) + attribute("errors", std::to_string(errors))
           + attribute("skipped", "0") + attribute("time", secondsText(seconds));
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

JunitReport::~JunitReport()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string JunitReport::failed(const std::string &what)
{
    return m_path + ": " + what + ": " + std::strerror(errno);
}

std::string JunitReport::head() const
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + attribute("name", "zentrel-serve")
                      + attribute("tests", std::to_string(m_tests)) + attribute("failures", std::to_string(m_failures))
                      + attribute("errors", std::to_string(m_errors)) + attribute("time", secondsText(m_seconds));
    // Blanks before the end of a start tag are allowed, and keep its length.
    out.resize(HeadSize - 2, ' ');
    return out + ">\n";
}

std::string JunitReport::open(const std::vector<std::string> &routers)
{
    struct stat info {};
    if (::lstat(m_path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        return m_path + ": is a symbolic link; not written through it";
    std::string staging, error;
    const int fd = platform::createBeside(m_path, staging, error);
    if (fd < 0)
        return error;
    std::string text = head();
    for (const std::string &router : routers)
        text += suiteTag(router, 0, 0, 0, 0) + "/>\n";
    m_end = text.size();
    text += Closing;
    std::string failure;
    if (!writeAt(fd, text, 0))
        failure = staging + ": cannot write: " + std::strerror(errno);
    else if (::rename(staging.c_str(), m_path.c_str()) != 0)
        failure = failed("cannot replace");
    if (!failure.empty()) {
        ::unlink(staging.c_str());
        ::close(fd);
        return failure;
    }
    m_fd = fd;
    return {};
}

std::string JunitReport::add(const JunitCase &c)
{
    if (m_fd < 0)
        return m_path + ": not open";
    const bool failure = c.outcome == JunitCase::Outcome::Fail;
    const bool error = c.outcome == JunitCase::Outcome::Error;
    std::string suite = suiteTag(c.router, 1, failure, error, c.seconds) + ">\n" + caseXml(c) + "  </testsuite>\n";
    if (!writeAt(m_fd, suite + std::string(Closing), m_end)) {
        const std::string why = failed("cannot write");
        // Back to the report as it was: the closing tag right after the last whole case.
        if (::ftruncate(m_fd, static_cast<off_t>(m_end)) == 0)
            (void)writeAt(m_fd, Closing, m_end);
        return why;
    }
    m_end += suite.size();
    ++m_tests;
    m_failures += failure;
    m_errors += error;
    m_seconds += c.seconds;
    return writeAt(m_fd, head(), 0) ? "" : failed("cannot write");
}

std::string JunitReport::close()
{
    if (m_fd < 0)
        return {};
    std::string failure;
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        failure = failed("cannot flush");
    if (::close(m_fd) != 0 && failure.empty())
        failure = failed("cannot close");
    m_fd = -1;
    return failure;
}

std::string JunitReport::caseXml(const JunitCase &c)
{
    std::string xml = "    <testcase" + attribute("classname", "zentrel." + c.router)
                      + attribute("name", "session " + std::to_string(c.session) + " from " + c.peer)
                      + attribute("time", secondsText(c.seconds)) + ">\n";
    if (c.outcome != JunitCase::Outcome::Pass) {
        const bool failure = c.outcome == JunitCase::Outcome::Fail;
        bool messageCut = false, detailsCut = false;
        std::string message(cut(c.message, MaxMessage, messageCut));
        if (messageCut)
            message += "...";
        xml += failure ? "      <failure" : "      <error";
        xml += attribute("message", message);
        xml += attribute("type", failure ? "ExpectMismatch" : "SessionFailed") + ">";
        appendText(xml, cut(c.details, MaxDetails, detailsCut), false);
        if (detailsCut)
            xml += "\n(cut at " + std::to_string(MaxDetails / 1024) + " KiB)\n";
        xml += failure ? "</failure>\n" : "</error>\n";
    }
    xml += "      <system-out>";
    std::size_t kept = 0;
    bool typedCut = c.typedCut;
    for (const std::string &line : c.typed) {
        bool lineCut = false;
        appendText(xml, cut(line, MaxSystemOut - kept, lineCut), false);
        kept += std::min(line.size(), MaxSystemOut - kept);
        xml += '\n';
        if (lineCut || (kept == MaxSystemOut && &line != &c.typed.back())) {
            typedCut = true;
            break;
        }
    }
    if (typedCut)
        xml += CutNote;
    xml += "</system-out>\n    </testcase>\n";
    return xml;
}

} // namespace zentrel::serve
