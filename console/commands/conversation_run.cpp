// conversation_run.cpp: a command from its lookup to its answer: its questions, its effects, its answer.
#include "console/commands/conversation.h"

#include "console/commands/router_files.h"
#include "platform/error.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view DefaultPasswordPrompt = "Password: ";

// Where the caret goes for a value the router cannot use: under the first
// of the command's variables the text names, else after the line.
std::size_t caretFor(const Template &text, const Match &match, std::string_view typed)
{
    for (std::size_t own : text.ownUsed())
        if (own < match.values.size())
            return match.values[own].offset;
    return trimmedLine(typed).data() - typed.data() + trimmedLine(typed).size();
}

// A `config: true` command's line as the config keeps it: its fixed words
// in full, its variables as typed (interface names in full).
std::string configLine(const Command &command, const std::vector<std::string_view> &own, std::string_view typed)
{
    if (command.pattern)
        return std::string(trimmedLine(typed));
    std::string line;
    std::size_t variable = 0;
    for (const Word &word : command.words) {
        if (!line.empty())
            line += ' ';
        line += word.kind == Word::Kind::Fixed ? std::string_view(word.text) : own[variable++];
    }
    return line;
}

bool sameWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

} // namespace

bool Conversation::proceed(const Resolved &resolved, std::string_view typed, const Asked &asked, Reply &reply)
{
    const Command &command = *resolved.match.command;
    if (command.password && !asked.password) {
        m_pendingLine = std::string(typed);
        m_stage = Stage::CommandPassword;
        reply.bytes = fixedText(m_model->login ? m_model->login->password : Template::literal(DefaultPasswordPrompt));
        return true;
    }
    if (command.confirm && !asked.reply && (!command.confirm->whenUncommitted || uncommitted())) {
        m_pendingLine = std::string(typed);
        m_stage = Stage::Confirm;
        const std::vector<std::string_view> own = ownValues(resolved);
        reply.bytes = crLf(command.confirm->question.render({.hostname = m_router->hostname(), .user = m_user,
                                                             .session = sessionName(), .line = trimmedLine(typed),
                                                             .own = own}));
        return true;
    }
    if (asked.reply && command.confirm) {
        for (const std::string &cancel : command.confirm->cancel)
            if (sameWord(*asked.reply, cancel)) {
                reply.bytes = prompt();
                return true;
            }
    }
    return run(resolved, typed, asked.reply.value_or(std::string()), reply);
}

bool Conversation::run(const Resolved &resolved, std::string_view typed, const std::string &replied, Reply &reply)
{
    const Match &match = resolved.match;
    const Command &command = *match.command;
    const std::vector<std::string_view> own = ownValues(resolved);
    TemplateValues values{.hostname = m_router->hostname(), .user = m_user, .session = sessionName(),
                          .router = m_router.get(), .setLines = resolved.filters.setLines(),
                          .line = trimmedLine(typed), .reply = replied, .own = own};
    if (command.delay)
        reply.delay = command.delay;

    if (command.paging) {
        const std::string text = command.paging->render(values);
        std::size_t lines = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), lines);
        if (failure != std::errc() || end != text.data() + text.size() || lines > MaxPageLength) {
            error(MatchError::Invalid, caretFor(*command.paging, match, typed), typed, std::string_view::npos, reply);
            return false;
        }
        m_pageLength = lines;
    }
    if (command.save)
        m_router->save();
    if (command.commit)
        commitCandidate();
    if (command.discard)
        discardCandidate();
    values.hostname = m_router->hostname();
    values.candidate = candidateIfAny();

    std::string_view notice;   // before the answer
    if (command.config && !resolved.nested) {
        leaveFor(command);
        const ConfigChange change = store(configLine(command, own, typed));
        if (change == ConfigChange::Refused) {
            error(MatchError::Invalid, match.offset, typed, std::string_view::npos, reply);
            return false;
        }
        if (change == ConfigChange::Full) {
            notice = ConfigFull;
            reply.warning = "the running config is full: a line was not applied";
        }
    }

    std::string answer;
    std::string section;   // what values.section views
    bool told = false;     // the section is not there: `missing:` said what to answer
    if (command.runningSection) {
        section = command.runningSection->render(values);
        if (m_router->running().section(section)) {
            values.section = section;
        } else {
            if (!answerMissing(command, *command.runningSection, match, typed, values,
                               "no '" + section + "' in the running config", answer, reply))
                return false;
            told = true;
        }
    }
    if (!told && !answerOf(command, match, typed, values, answer, reply))
        return false;
    if (!notice.empty())
        answer.insert(0, notice);
    if (!resolved.nested)
        enterMode(command, values);
    if (!resolved.filters.empty())
        answer = resolved.filters.apply(std::move(answer), values);

    if (!command.raw) {
        std::string lines;
        // Room for the line ends and the prompt that follows: one allocation.
        lines.reserve(answer.size() + answer.size() / 16 + 64);
        appendCrLf(lines, answer);
        if (!lines.empty() && lines.back() != '\n')
            lines += "\r\n";   // the prompt starts a line of its own
        answer = std::move(lines);
    }
    if (command.faults)
        reply.faults = &*command.faults;
    if (command.otherPrompt
        && std::find(m_otherPromptShown.begin(), m_otherPromptShown.end(), &command) == m_otherPromptShown.end()) {
        m_otherPromptShown.push_back(&command);
        m_otherPrompt = fixedText(*command.otherPrompt);
    }
    deliver(std::move(answer), command.close && !resolved.nested, !resolved.filters.noMore(), reply);
    return true;
}

bool Conversation::answerOf(const Command &command, const Match &match, std::string_view typed,
                            const TemplateValues &values, std::string &answer, Reply &reply)
{
    if (command.answer) {
        answer = command.answer->render(values);
    } else if (!command.answers.empty()) {
        std::size_t &at = m_answersAt[command.answersSlot];
        answer = command.answers[at].render(values);
        if (at + 1 < command.answers.size())
            ++at;
        else if (command.cycle)
            at = 0;
    } else if (command.file) {
        // A value a client typed never leads out of the router's directory.
        bool safe = !command.file->uses(Variable::Hostname) || safePathValue(values.hostname);
        for (std::size_t own : command.file->ownUsed())
            safe = safe && safePathValue(values.own[own]);
        const std::string name = command.file->render(values);
        const std::string path = (std::filesystem::path(m_model->dir) / name).string();
        try {
            if (!safe)
                throw platform::Error(platform::FileNotFound, name + ": not a file of the router's directory");
            answer = readBoundedFile(m_files, path, MaxAnswerFileBytes);
        } catch (const platform::Error &failure) {
            return answerMissing(command, *command.file, match, typed, values, failure.what(), answer, reply);
        }
        if (!command.raw) {
            // The file is filled as an answer is; one that is no text of ours goes as it is.
            try {
                answer = Template::compile(answer, {.configs = true, .line = true, .own = command.variables})
                             .render(values);
            } catch (const TemplateError &failure) {
                reply.warning = "the answer file " + name + ": " + failure.what() + ": sent as written";
            }
        }
    }
    return true;
}

// What the command says when what its answer shows is not there (`missing:`):
// false for the invalid error, already in the reply.
bool Conversation::answerMissing(const Command &command, const Template &named, const Match &match,
                                 std::string_view typed, const TemplateValues &values, const std::string &why,
                                 std::string &answer, Reply &reply)
{
    switch (command.missing) {
    case Missing::Invalid:
        error(MatchError::Invalid, caretFor(named, match, typed), typed, std::string_view::npos, reply);
        return false;
    case Missing::Text:
        answer = command.missingText.render(values);
        return true;
    case Missing::Warn:
        reply.warning = std::string("cannot read the answer to '") + std::string(values.line) + "': " + why;
        return true;
    }
    return true;
}

} // namespace zentrel::console::commands
