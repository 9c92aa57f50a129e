// lint_script.cpp: a script split by the item reader itself, each item traced back to its bytes.
#include "serve/lint.h"

#include "console/item_reader.h"
#include "platform/text_files.h"
#include "serve/visible.h"

#include <algorithm>
#include <map>

namespace zentrel::serve {

namespace {

class TracedStream : public platform::InputStream
{
public:
    explicit TracedStream(std::string_view bytes) : m_begin(bytes.data())
    {
        m_pos = bytes.data();
        m_end = bytes.data() + bytes.size();
    }
    std::size_t offset() const { return static_cast<std::size_t>(m_pos - m_begin); }

protected:
    bool refill() override { return false; }

private:
    const char *m_begin;
};

// Line numbers by offset, with CR LF, lone LF and lone CR each one line end.
class Lines
{
public:
    explicit Lines(std::string_view bytes)
    {
        m_starts.push_back(0);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            else if (bytes[i] != '\r' && bytes[i] != '\n')
                continue;
            m_starts.push_back(i + 1);
        }
    }
    std::size_t at(std::size_t offset) const
    {
        return static_cast<std::size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), offset)
                                        - m_starts.begin());
    }

private:
    std::vector<std::size_t> m_starts;
};

void lineEnds(std::string_view bytes, const Lines &lines, std::vector<LintWarning> &warnings)
{
    std::size_t lf = 0, cr = 0, firstLf = 0, firstCr = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;
        } else if (bytes[i] == '\n') {
            if (lf++ == 0)
                firstLf = lines.at(i);
        } else if (bytes[i] == '\r') {
            if (cr++ == 0)
                firstCr = lines.at(i);
        }
    }
    auto report = [&](std::size_t count, std::size_t line, const char *kind) {
        if (count > 0)
            warnings.push_back({line, std::string("ends with a lone ") + kind + " instead of CR LF"
                                          + (count > 1 ? " (" + std::to_string(count) + " lines do)" : "")
                                          + "; the reader takes it as a line end"});
    };
    report(lf, firstLf, "LF");
    report(cr, firstCr, "CR");
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

ScriptLint lintScript(std::string_view bytes)
{
    ScriptLint lint;
    const Lines lines(bytes);
    std::map<std::size_t, std::size_t> commasByLine;
    TracedStream stream(bytes);
    std::string item;
    while (!stream.atEnd()) {
        const std::size_t start = stream.offset();
        console::readItem(stream, item);
        const std::size_t end = stream.offset();
        const std::string_view raw = bytes.substr(start, end - start);

        std::size_t first = 0;
        while (first < raw.size() && isBlank(raw[first]))
            ++first;
        const std::size_t line = lines.at(start + first);
        lint.items.push_back({item, line});
        const std::string number = "item " + std::to_string(lint.items.size());
        if (first > 0)
            lint.warnings.push_back({line, number + ": " + std::to_string(first)
                                               + " leading blank(s) dropped; quote the item to keep them"});

        const bool quoted = first < raw.size() && raw[first] == '"';
        // A comma after a quoted item is plainly meant as a separator.
        if (!quoted && !raw.empty() && raw.back() == ',')
            ++commasByLine[lines.at(end - 1)];
        if (quoted) {
            // A doubled quote inside stands for one quote and does not close the item.
            std::size_t close = raw.find('"', first + 1);
            while (close != std::string_view::npos && close + 1 < raw.size() && raw[close + 1] == '"')
                close = raw.find('"', close + 2);
            if (close == std::string_view::npos) {
                lint.warnings.push_back({line, number + ": the quote is never closed; the item runs to the end "
                                                        "of the file"});
                continue;
            }
            std::string_view after = raw.substr(close + 1);
            while (!after.empty() && (after.back() == '\n' || after.back() == '\r' || after.back() == ','))
                after.remove_suffix(1);
            if (after.find_first_not_of(" \t") != std::string_view::npos)
                lint.warnings.push_back({lines.at(start + close), number + ": text after the closing quote is "
                                                                           "dropped: "
                                                                           + visibleText(after)});
        }
    }
    for (const auto &[line, commas] : commasByLine)
        lint.warnings.push_back({line, std::to_string(commas) + " unquoted comma(s) split this line into "
                                           + std::to_string(commas + 1)
                                           + " items; quote an item to keep its comma"});
    lineEnds(bytes, lines, lint.warnings);
    std::stable_sort(lint.warnings.begin(), lint.warnings.end(),
                     [](const LintWarning &a, const LintWarning &b) { return a.line < b.line; });
    return lint;
}

} // namespace zentrel::serve
