// expect_file.cpp: reading EXPECT.TXT and comparing a session's typed lines with it.
#include "serve/expect_file.h"

#include "serve/expect_line.h"
#include "serve/line_diff.h"
#include "serve/visible.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <sys/stat.h>

namespace zentrel::serve {

ExpectFile ExpectFile::parse(std::string_view bytes, const std::string &fileName)
{
    ExpectFile file;
    file.m_fileName = fileName;
    PatternCache patterns;
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
        if (!ruleWord(text).empty()) {
            file.m_rules.add(text, number, fileName, patterns);
            continue;
        }
        std::string error;
        Line line{number, std::string(text), patterns.matcher(text, error)};
        if (!error.empty())
            throw ExpectError(fileName + ":" + std::to_string(number) + ": the pattern "
                              + visibleText(text.substr(1)) + " does not compile: " + error);
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

std::string ExpectFile::breaks(std::size_t position, const std::string &typed, bool order) const
{
    if (std::string rule = m_rules.brokenBy(typed); !rule.empty())
        return rule;
    if (!order || m_lines.empty())
        return {};
    if (position >= m_lines.size())
        return m_fileName + ": a line more than its " + std::to_string(m_lines.size());
    const Line &line = m_lines[position];
    if (!line.matcher.matches(typed))
        return m_fileName + ":" + std::to_string(line.number) + ": expected " + visibleText(line.text);
    return {};
}

Verdict ExpectFile::check(const std::vector<std::string> &typedLines, const std::vector<std::string> &shownLines,
                          const SessionFacts &facts) const
{
    std::vector<const std::string *> typed;
    std::vector<const std::string *> shown;
    for (std::size_t i = 0; i < typedLines.size(); ++i) {
        if (!typedLines[i].empty()) {
            typed.push_back(&typedLines[i]);
            shown.push_back(&shownLines.at(i));
        }
    }
    // A file of rules alone says nothing of the order.
    Verdict verdict = m_lines.empty() && !m_rules.empty() ? Verdict{} : compare(typed, shown);
    verdict.rulesFailed = m_rules.failed(typed, facts);
    if (!verdict.rulesFailed.empty() && verdict.pass) {
        verdict.pass = false;
        verdict.diff = "rules broken:\n";
    } else if (!verdict.rulesFailed.empty()) {
        verdict.diff += "rules broken:\n";
    }
    for (const std::string &rule : verdict.rulesFailed)
        verdict.diff += "  " + rule + "\n";
    return verdict;
}

Verdict ExpectFile::compare(const std::vector<const std::string *> &typed,
                            const std::vector<const std::string *> &shown) const
{
    Verdict verdict;
    const std::size_t common = std::min(typed.size(), m_lines.size());
    std::size_t first = 0;
    while (first < common && m_lines[first].matcher.matches(*typed[first]))
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
    diff.same = [this, &typed](std::size_t i, std::size_t j) { return m_lines[i].matcher.matches(*typed[j]); };
    verdict.diff = unifiedDiff(diff);
    return verdict;
}

} // namespace zentrel::serve
