// commands_writer.cpp: a recorded session as a commands.yaml that answers its lines in any order.
#include "record/commands_writer.h"

#include "console/line_editor.h"
#include "serve/visible.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

namespace zentrel::record {

namespace {

// A double-quoted YAML scalar that reads back as the same bytes: control
// bytes escaped, bytes from 0x80 as they are (the model reads bytes).
std::string yamlQuoted(std::string_view bytes)
{
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", byte);
                out += hex;
            } else {
                out.push_back(c);
            }
        }
    }
    return out + "\"";
}

// The answer as a template that the conversation sends back byte for byte:
// it turns each line end into CR LF and adds one after an answer without.
bool fitsTemplate(std::string_view answer)
{
    if (!answer.empty() && answer.back() != '\n')
        return false;
    for (std::size_t at = answer.find('\n'); at != std::string_view::npos; at = answer.find('\n', at + 1))
        if (at == 0 || answer[at - 1] != '\r')
            return false;
    return true;
}

// CR LF as \n, braces doubled: the text of a template.
std::string templateText(std::string_view text)
{
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')
            continue;
        if (text[k] == '{' || text[k] == '}')
            out.push_back(text[k]);
        out.push_back(text[k]);
    }
    return out;
}

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
    return found;
}

// The command a typed line is written as: its words, or a pattern that
// matches just them when a word would read as a variable or a pattern.
std::string commandKey(std::string_view line)
{
    const std::vector<std::string_view> parts = words(line);
    std::string key;
    bool literal = !parts.empty() && parts.front().front() != '~';
    for (std::string_view word : parts) {
        key += (key.empty() ? "" : " ") + std::string(word);
        literal = literal && word.find_first_of("{}") == std::string_view::npos;
    }
    if (literal)
        return key;
    std::string pattern = "~";
    for (std::size_t w = 0; w < parts.size(); ++w) {
        if (w > 0)
            pattern += "\\s+";
        for (const char c : parts[w]) {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                pattern.push_back(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                pattern += hex;
            }
        }
    }
    return pattern;
}

// A mode's name from its prompt: what the parentheses hold (R1(config-if)#),
// else what its last sign says is usual for it.
std::string modeName(std::string_view prompt, std::set<std::string> &taken)
{
    std::string name;
    const std::size_t open = prompt.find('('), close = prompt.rfind(')');
    if (open != std::string_view::npos && close != std::string_view::npos && close > open + 1) {
        for (const char c : prompt.substr(open + 1, close - open - 1))
            name.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '-');
    } else {
        const std::size_t last = prompt.find_last_not_of(" \t");
        const char sign = last == std::string_view::npos ? ' ' : prompt[last];
        name = sign == '>' ? "exec" : sign == '#' ? "privileged" : sign == '$' || sign == '%' ? "shell" : "mode";
    }
    std::string unique = name;
    for (int n = 2; !taken.insert(unique).second; ++n)
        unique = name + "-" + std::to_string(n);
    return unique;
}

struct Entry {
    std::string key;
    std::size_t firstLine = 0;            // from 1, for warnings
    std::vector<std::string> answers;     // one per time it was typed
    int mode = -1;                        // the mode it enters; -1: stays
    bool password = false;
    bool close = false;
};

struct ModeText {
    std::string name;
    std::string prompt;
    std::vector<Entry> entries;           // in the order first typed
};

class Writer
{
public:
    Writer(const Recording &recording, bool ssh) : m_recording(recording), m_ssh(ssh) {}

    CommandsRecording build()
    {
        const auto &items = m_recording.items;
        readLogin();
        findPrompts();
        std::string why = toldApart();
        if (!why.empty()) {
            m_out.warnings.push_back("no prompt tells the modes apart (" + why
                                     + "): written as one mode with an empty prompt, its answers holding "
                                       "all the router sent");
            m_prompts.assign(items.size(), std::string());
            m_modes = {ModeText{"exec", "", {}}};
            m_oneMode = true;
        } else {
            std::set<std::string> taken;
            for (std::size_t k = m_first; k < items.size(); ++k)
                if (modeOf(m_prompts[k]) < 0)
                    m_modes.push_back({modeName(m_prompts[k], taken), m_prompts[k], {}});
        }
        readCommands();
        write();
        return std::move(m_out);
    }

private:
    const std::vector<std::string> &items() const { return m_recording.items; }

    // user name, then password (or the password alone), typed at the start
    void readLogin()
    {
        const auto &lines = m_recording.lines;
        if (m_ssh || lines.empty())
            return;
        const std::string_view first = console::promptOf(items()[0]);
        if (lines[0].password && console::asksForPassword(first)) {
            m_banner = items()[0].substr(0, items()[0].size() - first.size());
            m_passwordPrompt = first;
            m_first = 1;
        } else if (lines.size() >= 2 && !lines[0].password && lines[1].password && !first.empty()
                   && console::asksForPassword(console::promptOf(items()[1]))) {
            m_banner = items()[0].substr(0, items()[0].size() - first.size());
            m_userPrompt = first;
            m_passwordPrompt = console::promptOf(items()[1]);
            m_first = 2;
        }
    }

    // The prompt each item leaves the client at; an empty item (a line typed
    // before the router answered the one before) leaves it where it was.
    void findPrompts()
    {
        m_prompts.assign(items().size(), std::string());
        std::string current;
        for (std::size_t k = m_first; k < items().size(); ++k) {
            const std::string_view prompt = console::promptOf(items()[k]);
            // A command's password prompt is the command's, not a mode's.
            const bool asked = k < m_recording.lines.size() && m_recording.lines[k].password
                               && console::asksForPassword(prompt);
            if (!prompt.empty() && !asked)
                current = prompt;
            m_prompts[k] = current;
        }
    }

    std::string toldApart() const
    {
        const std::size_t last = items().size() - 1;
        std::set<std::string> distinct;
        for (std::size_t k = m_first; k < items().size(); ++k) {
            const bool ended = !items()[k].empty() && console::promptOf(items()[k]).empty();
            if (ended && k < last)
                return (k == 0 ? std::string("what the router sent before the first line")
                               : "the router's answer to line " + std::to_string(k))
                       + " ends with a line end, not a prompt";
            if (!m_prompts[k].empty())
                distinct.insert(m_prompts[k]);
        }
        if (distinct.empty())
            return "no answer ends in a prompt";
        const std::size_t most = std::max<std::size_t>(4, (items().size() - m_first) / 2);
        if (distinct.size() > most)
            return "the answers end in " + std::to_string(distinct.size()) + " different texts, such as \""
                   + serve::visibleText(*distinct.begin()) + "\"";
        return {};
    }

    int modeOf(const std::string &prompt) const
    {
        for (std::size_t m = 0; m < m_modes.size(); ++m)
            if (m_modes[m].prompt == prompt)
                return int(m);
        return -1;
    }

    void readCommands()
    {
        const auto &lines = m_recording.lines;
        for (std::size_t k = m_first; k < lines.size(); ++k) {
            if (lines[k].password) {
                m_out.warnings.push_back("line " + std::to_string(k + 1)
                                         + " answers a password prompt that no command asked: left out");
                continue;
            }
            std::size_t answered = k + 1;
            bool password = false;
            if (answered < lines.size() && lines[answered].password
                && console::asksForPassword(console::promptOf(items()[answered]))) {
                password = true;
                if (const std::string_view asked = console::promptOf(items()[answered]); asked != "Password: ")
                    m_out.warnings.push_back("line " + std::to_string(k + 1) + " asks for a password with \""
                                             + serve::visibleText(asked) + "\"; played back, it asks with \"Password: \"");
                ++answered;
            }
            const std::string &item = items()[answered];
            const std::string &after = m_prompts[answered];
            std::string answer = item;
            bool close = false;
            if (!after.empty() && std::string_view(item).ends_with(after))
                answer.resize(item.size() - after.size());
            else if (!m_oneMode && answered + 1 == items().size() && console::promptOf(item).empty())
                close = true;   // the router closed after the last line without a prompt
            ModeText &mode = m_modes[std::size_t(std::max(0, modeOf(m_prompts[k])))];
            const int enters = close ? -1 : modeOf(after);
            add(mode, lines[k].text, k + 1, answer, enters == modeOf(m_prompts[k]) ? -1 : enters, password, close);
            k = answered - 1;
        }
    }

    void add(ModeText &mode, const std::string &line, std::size_t number, const std::string &answer, int enters,
             bool password, bool close)
    {
        const std::string key = commandKey(line);
        if (key.empty())
            return;
        auto found = std::find_if(mode.entries.begin(), mode.entries.end(),
                                  [&](const Entry &entry) { return entry.key == key; });
        if (found == mode.entries.end()) {
            mode.entries.push_back({key, number, {answer}, enters, password, close});
            return;
        }
        found->answers.push_back(answer);
        found->close = found->close || close;
        if (enters != found->mode)
            m_out.warnings.push_back("line " + std::to_string(number) + " \"" + serve::visibleText(line)
                                     + "\" led to another mode than line " + std::to_string(found->firstLine)
                                     + " did; played back, it goes where the first did");
    }

    void write()
    {
        std::string &y = m_out.yaml;
        y = "# commands.yaml recorded by zentrel-record: each line the client typed, answered as the\n"
            "# router answered it, in whatever order it comes.\n";
        if (m_recording.delay > 0) {
            char delay[32];
            std::snprintf(delay, sizeof delay, "%.3g", m_recording.delay);
            y += "delay: " + std::string(delay) + "\n";
        }
        if (!m_passwordPrompt.empty()) {
            y += "login:\n  banner: " + yamlQuoted(templateText(m_banner)) + "\n";
            if (!m_userPrompt.empty())
                y += "  username: " + yamlQuoted(templateText(m_userPrompt)) + "\n";
            y += "  password: " + yamlQuoted(templateText(m_passwordPrompt)) + "\n";
        }
        const std::string &welcome = items()[std::min(m_first, items().size() - 1)];
        const std::string &prompt = m_prompts[std::min(m_first, items().size() - 1)];
        y += "motd: " + yamlQuoted(templateText(welcome.substr(0, welcome.size() - std::min(welcome.size(), prompt.size()))))
             + "\n";
        y += "start: " + m_modes[std::size_t(std::max(0, modeOf(prompt)))].name + "\nmodes:\n";
        for (const ModeText &mode : m_modes) {
            y += "  " + mode.name + ":\n    prompt: " + yamlQuoted(templateText(mode.prompt)) + "\n";
            if (mode.entries.empty())
                continue;
            y += "    commands:\n";
            for (const Entry &entry : mode.entries) {
                ++m_out.commands;
                y += "      " + yamlQuoted(entry.key) + ":\n";
                if (entry.mode >= 0)
                    y += "        mode: " + m_modes[std::size_t(entry.mode)].name + "\n";
                if (entry.password)
                    y += "        password: any\n";
                if (entry.close)
                    y += "        close: true\n";
                const bool raw = !std::all_of(entry.answers.begin(), entry.answers.end(),
                                              [](const std::string &a) { return fitsTemplate(a); });
                auto text = [&](const std::string &answer) { return yamlQuoted(raw ? answer : templateText(answer)); };
                if (raw)
                    y += "        raw: true\n";
                if (std::all_of(entry.answers.begin(), entry.answers.end(),
                                [&](const std::string &a) { return a == entry.answers.front(); })) {
                    y += "        answer: " + text(entry.answers.front()) + "\n";
                } else {
                    y += "        answers:\n";
                    for (const std::string &answer : entry.answers)
                        y += "          - " + text(answer) + "\n";
                }
            }
        }
        m_out.modes = m_modes.size();
    }

    const Recording &m_recording;
    bool m_ssh;
    CommandsRecording m_out;
    std::size_t m_first = 0;            // the first line that is not the login's
    std::string m_banner, m_userPrompt, m_passwordPrompt;
    std::vector<std::string> m_prompts;  // by item
    std::vector<ModeText> m_modes;
    bool m_oneMode = false;              // no prompt to tell modes by: every answer whole
};

} // namespace

CommandsRecording buildCommands(const Recording &recording, bool ssh)
{
    return Writer(recording, ssh).build();
}

} // namespace zentrel::record
