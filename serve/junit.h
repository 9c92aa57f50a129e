// junit.h: the JUnit XML report of a run: one test suite per router, one test case per session.
#pragma once
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

class JunitReport
{
public:
    explicit JunitReport(std::string path) : m_path(std::move(path)) {}

    // A router appears as a suite even before, or without, any session.
    void addRouter(const std::string &router);
    void add(const JunitCase &testCase);

    std::string xml() const;
    // Replaces the file as a whole: written to a temporary file beside it,
    // flushed to disk, then renamed over it, so a reader or a crash sees the
    // old report or the new one, never half of one. "" on success, else what
    // failed; the old file is then left as it was.
    std::string write() const;

    // Only the characters XML 1.0 allows, in UTF-8: each byte is the code
    // point of the same value, and the control bytes XML forbids (and DEL
    // and 0x80..0x9F, which it discourages) appear as \xNN; markup escaped.
    static void appendText(std::string &out, std::string_view bytes, bool attribute);

private:
    struct Suite {
        std::string name;
        std::vector<std::string> cases;   // each one's XML, made once
        std::size_t failures = 0;
        std::size_t errors = 0;
        double seconds = 0;
    };

    Suite &suite(const std::string &router);

    std::string m_path;
    std::vector<Suite> m_suites;
};

} // namespace zentrel::serve
