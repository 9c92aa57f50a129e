// conversation_run.cpp: a command line from its lookup to its answer: run-in and filters, questions, effects, candidates.
#include "console/commands/conversation.h"

#include "console/commands/router_files.h"
#include "platform/error.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view ConfigFull = "% The running config is full: the line was not applied\n";
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

Conversation::Resolved Conversation::resolve(std::string_view typed) const
{
    Resolved resolved{.mode = m_mode, .part = typed};
    find(resolved, typed);
    const Command *command = resolved.match.command;
    if (!command || command->runIn < 0) {
        takeNamesInFull(resolved);
        return resolved;
    }
    // `do LINE`: the line as the other mode would answer it, the session staying where it is.
    const std::string_view line = resolved.match.values.back().text;
    Resolved inner{.mode = command->runIn, .part = line, .nested = true};
    find(inner, typed);
    if (inner.match.command && inner.match.command->runIn >= 0)
        inner.match = Match{.error = MatchError::Invalid, .offset = std::size_t(line.data() - typed.data())};
    takeNamesInFull(inner);
    return inner;
}

// `{name:interface}`: `gi0/1` is GigabitEthernet0/1 to the command, as a
// router takes it; a type the router lacks is the invalid error under the
// name, a type with no number the incomplete one.
void Conversation::takeNamesInFull(Resolved &resolved) const
{
    const Command *command = resolved.match.command;
    if (!command || command->interfaces.empty())
        return;
    resolved.names.resize(command->variables.size());
    for (std::size_t own : command->interfaces) {
        const MatchedValue &value = resolved.match.values[own];
        const InterfaceName found = fullInterfaceName(value.text, m_model->interfaceTypes, resolved.names[own]);
        if (found == InterfaceName::Full)
            continue;
        resolved.match = Match{.error = found == InterfaceName::NoNumber ? MatchError::Incomplete : MatchError::Invalid,
                               .offset = value.offset};
        resolved.badName = true;
        return;
    }
}

std::vector<std::string_view> Conversation::ownValues(const Resolved &resolved) const
{
    std::vector<std::string_view> own;
    own.reserve(resolved.match.values.size());
    for (std::size_t i = 0; i < resolved.match.values.size(); ++i)
        own.push_back(i < resolved.names.size() && !resolved.names[i].empty() ? std::string_view(resolved.names[i])
                                                                              : resolved.match.values[i].text);
    return own;
}

void Conversation::find(Resolved &resolved, std::string_view typed) const
{
    const CommandIndex &index = m_model->modes[std::size_t(resolved.mode)].index;
    const std::string_view part = resolved.part;
    resolved.match = index.match(part);
    const std::size_t bar = resolved.match.command || m_model->filters.empty()
        ? std::string_view::npos
        : FilterChain::split(part, m_model->filters);
    if (bar != std::string_view::npos && !trimmedLine(part.substr(0, bar)).empty()) {
        Match head = index.match(part.substr(0, bar));
        if (head.command) {
            Match failed;
            resolved.match = resolved.filters.parse(part, bar, m_model->filters, failed) ? std::move(head)
                                                                                          : std::move(failed);
        }
    }
    // Offsets in the typed line, not in the part.
    const std::size_t start = std::size_t(part.data() - typed.data());
    resolved.match.offset += start;
    for (MatchedValue &value : resolved.match.values)
        value.offset += start;
}

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

void Conversation::enterMode(const Command &command, const TemplateValues &values)
{
    if (command.mode >= 0) {
        const bool wasSession = candidateKind() == CandidateKind::Session;
        m_mode = command.mode;
        m_section.clear();
        m_promptValues.clear();
        for (const std::string &name : m_model->modes[std::size_t(m_mode)].promptNames) {
            const auto own = std::find(command.variables.begin(), command.variables.end(), name);
            m_promptValues.emplace_back(own == command.variables.end()
                                            ? std::string_view()
                                            : values.own[std::size_t(own - command.variables.begin())]);
        }
        const bool isSession = candidateKind() == CandidateKind::Session;
        if (wasSession && !isSession && m_session >= 0) {
            // Left pending under its name, as `configure session NAME` finds it again.
            if (m_sessions[std::size_t(m_session)].name.empty())
                m_sessions.erase(m_sessions.begin() + m_session);
            m_session = -1;
        } else if (isSession && !wasSession) {
            const std::string name = command.session ? command.session->render(values) : std::string();
            m_session = -1;
            for (std::size_t i = 0; i < m_sessions.size() && !name.empty(); ++i)
                if (m_sessions[i].name == name)
                    m_session = int(i);
            if (m_session < 0) {
                if (m_sessions.size() == MaxSessionCandidates)
                    m_sessions.erase(m_sessions.begin());
                m_sessions.push_back({name, m_router->running().clone()});
                m_session = int(m_sessions.size() - 1);
            }
        }
    }
    if (command.section) {
        m_section = normalizedLine(command.section->render(values));
        if (m_section.empty())
            return;
        const ConfigChange change = candidateKind() == CandidateKind::None ? m_router->enterSection(m_section)
                                                                            : candidate().enterSection(m_section);
        m_changedConfig = m_changedConfig || (candidateKind() == CandidateKind::None && change == ConfigChange::Added);
    }
}

// A config line of a parent mode is that mode's: the session goes back up
// to it, out of the section, as `hostname X` leaves an interface on IOS.
void Conversation::leaveFor(const Command &command)
{
    const std::vector<Mode> &modes = m_model->modes;
    for (int at = m_mode; at >= 0; at = modes[std::size_t(at)].parent) {
        const std::vector<Command> &own = modes[std::size_t(at)].commands;
        if (own.empty() || &command < own.data() || &command >= own.data() + own.size())
            continue;
        if (at != m_mode && modes[std::size_t(at)].candidate == candidateKind()) {
            m_mode = at;
            m_section.clear();
            m_promptValues.assign(modes[std::size_t(at)].promptNames.size(), std::string());
        }
        return;
    }
}

bool Conversation::applyConfig(std::string_view line, Reply &reply)
{
    const ConfigChange change = store(line);
    if (change == ConfigChange::Refused)
        return false;
    if (change == ConfigChange::Full) {
        reply.bytes = crLf(ConfigFull);
        reply.warning = "the running config is full: a line was not applied";
    }
    reply.bytes += prompt();
    return true;
}

// The line into the running config, or into the mode's candidate.
ConfigChange Conversation::store(std::string_view line)
{
    const bool running = candidateKind() == CandidateKind::None;
    const ConfigChange change = running ? m_router->apply(line, m_section) : candidate().apply(line, m_section);
    if (running && change != ConfigChange::None && change != ConfigChange::Full && change != ConfigChange::Refused)
        m_changedConfig = true;
    return change;
}

Configuration &Conversation::candidate()
{
    if (candidateKind() == CandidateKind::Shared)
        return m_router->sharedCandidate();
    if (m_session < 0) {
        if (m_sessions.size() == MaxSessionCandidates)
            m_sessions.erase(m_sessions.begin());
        m_sessions.push_back({std::string(), m_router->running().clone()});
        m_session = int(m_sessions.size() - 1);
    }
    return *m_sessions[std::size_t(m_session)].config;
}

const Configuration *Conversation::candidateIfAny() const
{
    switch (candidateKind()) {
    case CandidateKind::Shared:
        return m_router->sharedCandidateIfAny() ? m_router->sharedCandidateIfAny() : &m_router->running();
    case CandidateKind::Session:
        return m_session >= 0 ? m_sessions[std::size_t(m_session)].config.get() : &m_router->running();
    case CandidateKind::None:
        break;
    }
    return nullptr;
}

bool Conversation::uncommitted() const
{
    const Configuration *changed = candidateIfAny();
    return changed && changed != &m_router->running() && !changed->sameAs(m_router->running());
}

std::string_view Conversation::sessionName() const
{
    return m_session >= 0 ? std::string_view(m_sessions[std::size_t(m_session)].name) : std::string_view();
}

void Conversation::commitCandidate()
{
    if (candidateKind() == CandidateKind::Shared) {
        m_changedConfig = m_changedConfig || m_router->sharedCandidateIfAny();
        m_router->commitShared();
    } else if (candidateKind() == CandidateKind::Session && m_session >= 0) {
        m_router->commit(*m_sessions[std::size_t(m_session)].config);
        m_changedConfig = true;
        discardCandidate();
    }
}

void Conversation::discardCandidate()
{
    if (candidateKind() == CandidateKind::Shared) {
        m_router->discardShared();
    } else if (candidateKind() == CandidateKind::Session && m_session >= 0) {
        m_sessions.erase(m_sessions.begin() + m_session);
        m_session = -1;
    }
}

} // namespace zentrel::console::commands
