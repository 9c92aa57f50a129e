// junit.h: the JUnit XML report of a run, one test case per session, appended as each one ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::serve {

struct JunitCase {
    std::string router;
    std::uint64_t session = 0;
    std::string peer;
    double seconds = 0;
    enum class Outcome { Pass, Fail, Error } outcome = Outcome::Pass;
    std::string message;   // one line: the first difference, or what went wrong
    std::string details;   // the diff, or more on the error
    std::vector<std::string> typed;
    bool typedCut = false;   // the client typed more than was kept
};

// The file is valid XML after every call: each case goes in as a test
// suite of its own, named after its router, written over the closing tag
// together with a new one, and the totals at the top are rewritten in
// place. Adding a case costs the same on the first session and the
// millionth, and nothing of an ended session is kept in memory.
class JunitReport
{
public:
    // What a case keeps of the client's lines (then a note says they were
    // cut), and of its message and details.
    static constexpr std::size_t MaxSystemOut = 64 * 1024;
    static constexpr std::size_t MaxDetails = 64 * 1024;
    static constexpr std::size_t MaxMessage = 1024;

    explicit JunitReport(std::string path) : m_path(std::move(path)) {}
    ~JunitReport();
    JunitReport(const JunitReport &) = delete;
    JunitReport &operator=(const JunitReport &) = delete;

    // Puts a new report in the file's place (written beside it, then renamed
    // over it: nothing is written through a link, and a symbolic link at the
    // path is refused), with an empty suite for each router so that a router
    // without sessions is seen too. "" on success, else what failed.
    std::string open(const std::vector<std::string> &routers);
    // Appends the case; "" or what failed.
    std::string add(const JunitCase &testCase);
    // Flushes the report to the disk and closes it; "" or what failed.
    std::string close();

    // The XML of one case, cut to the bounds above.
    static std::string caseXml(const JunitCase &testCase);
    // Only the characters XML 1.0 allows, in UTF-8: each byte is the code
    // point of the same value, and the control bytes XML forbids (and DEL
    // and 0x80..0x9F, which it discourages) appear as \xNN; markup escaped.
    static void appendText(std::string &out, std::string_view bytes, bool attribute);

private:
    std::string head() const;
    std::string failed(const std::string &what);

    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_end = 0;   // where the closing tag starts
    std::uint64_t m_tests = 0;
    std::uint64_t m_failures = 0;
    std::uint64_t m_errors = 0;
    double m_seconds = 0;
};

} // namespace zentrel::serve
