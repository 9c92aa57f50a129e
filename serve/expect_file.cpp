// expect_file.cpp: reading EXPECT.TXT and comparing a session's typed lines with it.
#include "serve/expect_file.h"

#include "serve/expect_line.h"
#include "serve/line_diff.h"
#include "serve/visible.h"

#include <re2/re2.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <sys/stat.h>

namespace zentrel::serve {

namespace {

// Each pattern's compiled program and its DFA cache stay within this; a
// pattern that needs more does not compile.
constexpr int64_t PatternMemory = 1 << 20;

std::shared_ptr<const re2::RE2> compile(std::string_view text, std::string &error)
{
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingLatin1);   // one byte, one character
    options.set_log_errors(false);
    options.set_max_mem(PatternMemory);
    auto pattern = std::make_shared<const re2::RE2>(re2::StringPiece(text.data(), text.size()), options);
    if (!pattern->ok()) {
        error = pattern->error();
        return nullptr;
    }
    return pattern;
}

} // namespace

ExpectFile ExpectFile::parse(std::string_view bytes, const std::string &fileName)
{
    ExpectFile file;
    file.m_fileName = fileName;
    // A pattern written many times is compiled once.
    std::map<std::string_view, std::shared_ptr<const re2::RE2>> compiled;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view text = bytes.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        if (text.empty())
            continue;

        Line line;
        line.number = number;
        line.text = std::string(text);
        if (text.front() == '~') {
            std::shared_ptr<const re2::RE2> &pattern = compiled[text.substr(1)];
            std::string error;
            if (!pattern)
                pattern = compile(text.substr(1), error);
            if (!pattern)
                throw ExpectError(fileName + ":" + std::to_string(number) + ": the pattern "
                                  + visibleText(text.substr(1)) + " does not compile: " + error);
            line.pattern = pattern;
        } else if (isEscapedLine(text)) {
            line.literal = std::string(text.substr(1));
        } else {
            line.literal = std::string(text);
        }
        file.m_lines.push_back(std::move(line));
    }
    return file;
}

ExpectFile ExpectFile::load(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw ExpectError(path + ": cannot read: " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw ExpectError(path + ": cannot read: not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ExpectError(path + ": cannot read: " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ExpectError(path + ": cannot read: input/output error");
    return parse(bytes, path);
}

std::shared_ptr<const ExpectFile> loadRouterExpect(const std::string &dir)
{
    const std::string path = (std::filesystem::path(dir) / ExpectFileName).string();
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return nullptr;
    return std::make_shared<const ExpectFile>(ExpectFile::load(path));
}

bool ExpectFile::matches(const Line &line, const std::string &typed) const
{
    if (!line.pattern)
        return typed == line.literal;
    return re2::RE2::FullMatch(typed, *line.pattern);
}

Verdict ExpectFile::check(const std::vector<std::string> &typedLines,
                          const std::vector<std::string> &shownLines) const
{
    std::vector<const std::string *> typed;
    std::vector<const std::string *> shown;
    for (std::size_t i = 0; i < typedLines.size(); ++i) {
        if (!typedLines[i].empty()) {
            typed.push_back(&typedLines[i]);
            shown.push_back(&shownLines.at(i));
        }
    }

    Verdict verdict;
    const std::size_t common = std::min(typed.size(), m_lines.size());
    std::size_t first = 0;
    while (first < common && matches(m_lines[first], *typed[first]))
        ++first;
    if (first == common && typed.size() == m_lines.size())
        return verdict;

    verdict.pass = false;
    verdict.position = first + 1;
    if (first < m_lines.size()) {
        verdict.expectLine = m_lines[first].number;
        verdict.expected = m_lines[first].text;
    }
    if (first < typed.size())
        verdict.typed = *shown[first];

    DiffInput diff;
    diff.fromLabel = m_fileName;
    diff.toLabel = "typed";
    for (const Line &line : m_lines)
        diff.from.push_back(visibleText(line.text));
    for (const std::string *line : shown)
        diff.to.push_back(visibleText(*line));
    // A pair may be compared once per table cell: the diff's work is bounded
    // by the typed bytes it would have to scan.
    for (const std::string *line : typed)
        diff.toBytes.push_back(line->size());
    diff.same = [this, &typed](std::size_t i, std::size_t j) { return matches(m_lines[i], *typed[j]); };
    verdict.diff = unifiedDiff(diff);
    return verdict;
}

} // namespace zentrel::serve
