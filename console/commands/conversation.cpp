// conversation.cpp: the login dialog, the answer to each typed line, and paging, for one session.
#include "console/commands/conversation.h"

#include "console/commands/router_files.h"
#include "platform/error.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view SecretMask = "***";
constexpr std::string_view BadSecret = "% Bad secrets\n";
constexpr std::string_view ConfigFull = "% The running config is full: the line was not applied\n";

// The width of the prompt's last line, where the typed line starts.
std::size_t lastLineWidth(std::string_view text)
{
    const std::size_t end = text.find_last_of("\r\n");
    return end == std::string_view::npos ? text.size() : text.size() - end - 1;
}

// Where the caret goes for a value the router cannot use: under the first
// of the command's variables the text names, else after the line.
std::size_t caretFor(const Template &text, const Match &match, std::string_view typed)
{
    for (std::size_t own : text.ownUsed())
        if (own < match.values.size())
            return match.values[own].offset;
    return trimmedLine(typed).data() - typed.data() + trimmedLine(typed).size();
}

} // namespace

Conversation::Conversation(ModelPtr model, std::shared_ptr<RouterState> router, platform::TextFiles &files,
                           ConversationOptions options)
    : m_model(std::move(model)), m_router(std::move(router)), m_files(files), m_options(options),
      m_mode(m_model->start), m_answersAt(m_model->answersSlots, 0), m_pageLength(m_model->pageLength)
{
}

std::string Conversation::fixedText(const Template &text) const
{
    return crLf(text.render({.hostname = m_router->hostname()}));
}

std::string Conversation::prompt() const
{
    return fixedText(m_model->modes[std::size_t(m_mode)].prompt);
}

std::string Conversation::welcome() const
{
    return fixedText(m_model->motd) + prompt();
}

Reply Conversation::start()
{
    Reply reply;
    reply.delay = m_model->delay;
    if (m_options.ssh || !m_model->login) {
        m_stage = Stage::Commands;
        reply.bytes = welcome();
        return reply;
    }
    const Login &login = *m_model->login;
    m_stage = login.username ? Stage::Username : Stage::Password;
    reply.bytes = fixedText(login.banner) + fixedText(login.username ? *login.username : login.password);
    return reply;
}

Reply Conversation::line(std::string_view typed)
{
    std::string erased;
    if (m_pager.active()) {
        // A line while paging: the pager gives way, as to q.
        erased = m_pager.next(Pager::Key::Quit);
        if (m_closeAfterPaging) {
            m_stage = Stage::Ended;
            return Reply{.bytes = erased, .delay = 0, .end = Ending::Closed};
        }
    }
    Reply reply;
    switch (m_stage) {
    case Stage::Username:
    case Stage::Password:
        reply = loginLine(typed);
        break;
    case Stage::Commands:
        reply = commandLine(typed);
        break;
    case Stage::CommandPassword:
        reply = commandPassword(typed);
        break;
    case Stage::Ended:
        return {};
    }
    reply.bytes.insert(0, erased);
    return reply;
}

Reply Conversation::key(char c)
{
    const bool secondHalf = m_afterCr && (c == '\n' || c == '\0');
    m_afterCr = c == '\r';
    if (!m_pager.active() || secondHalf)
        return {};
    const Pager::Key key = c == ' ' ? Pager::Key::Page
        : c == '\r' || c == '\n'    ? Pager::Key::Line
                                    : Pager::Key::Quit;
    Reply reply;
    reply.delay = 0;
    reply.bytes = m_pager.next(key);
    if (!m_pager.active())
        finish(m_closeAfterPaging, reply);
    return reply;
}

Reply Conversation::loginLine(std::string_view typed)
{
    const Login &login = *m_model->login;
    Reply reply;
    reply.delay = m_model->delay;
    if (m_stage == Stage::Username) {
        if (typed.empty()) {
            reply.bytes = fixedText(*login.username);   // a bare Enter asks again
            return reply;
        }
        m_user = std::string(typed);
        m_stage = Stage::Password;
        reply.bytes = fixedText(login.password);
        return reply;
    }
    bool accepted = !login.users;
    if (login.users && login.username) {
        const auto user = login.users->find(m_user);
        accepted = user != login.users->end() && user->second == typed;
    } else if (login.users) {
        accepted = std::any_of(login.users->begin(), login.users->end(),
                               [&](const auto &user) { return user.second == typed; });
    }
    if (accepted) {
        m_stage = Stage::Commands;
        reply.bytes = welcome();
        return reply;
    }
    reply.bytes = fixedText(login.failed);
    if (++m_loginFailures >= Login::Attempts) {
        m_stage = Stage::Ended;
        reply.end = Ending::AuthFailed;
        return reply;
    }
    m_stage = login.username ? Stage::Username : Stage::Password;
    reply.bytes += fixedText(login.username ? *login.username : login.password);
    return reply;
}

Reply Conversation::commandLine(std::string_view typed)
{
    Reply reply;
    reply.delay = m_model->delay;
    const std::string_view line = trimmedLine(typed);
    if (line.empty()) {
        reply.bytes = prompt();
        return reply;
    }
    ++m_commands;
    CommandRecord record{.mode = mode(), .line = std::string(typed)};
    const Mode &current = m_model->modes[std::size_t(m_mode)];
    const Match match = current.index.match(typed);
    if (match.command) {
        record.matched = match.command->text;
        if (match.command->password) {
            m_pendingLine = std::string(typed);
            m_stage = Stage::CommandPassword;
            reply.bytes = fixedText(m_model->login ? m_model->login->password : Template::literal("Password: "));
        } else if (!run(match, typed, reply)) {
            record.matched.reset();
            record.error = MatchError::Invalid;
        }
    } else if (match.error == MatchError::Invalid && current.config) {
        record.config = true;
        applyConfig(line, reply);
    } else {
        record.error = match.error;
        error(match.error, match.offset, typed, reply);
    }
    reply.record = std::move(record);
    return reply;
}

Reply Conversation::commandPassword(std::string_view typed)
{
    Reply reply;
    reply.delay = m_model->delay;
    reply.record = CommandRecord{.mode = mode(), .line = std::string(SecretMask), .secret = true};
    m_stage = Stage::Commands;
    const std::string line = std::move(m_pendingLine);
    m_pendingLine.clear();
    const Match match = m_model->modes[std::size_t(m_mode)].index.match(line);
    if (!match.command || typed != *match.command->password) {
        reply.bytes = crLf(BadSecret) + prompt();
        return reply;
    }
    run(match, line, reply);
    return reply;
}

bool Conversation::run(const Match &match, std::string_view typed, Reply &reply)
{
    const Command &command = *match.command;
    std::vector<std::string_view> own;
    for (const MatchedValue &value : match.values)
        own.push_back(value.text);
    const TemplateValues values{.hostname = m_router->hostname(), .router = m_router.get(),
                                .line = trimmedLine(typed), .own = own};
    if (command.delay)
        reply.delay = command.delay;

    if (command.paging) {
        const std::string text = command.paging->render(values);
        std::size_t lines = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), lines);
        if (failure != std::errc() || end != text.data() + text.size() || lines > MaxPageLength) {
            error(MatchError::Invalid, caretFor(*command.paging, match, typed), typed, reply);
            return false;
        }
        m_pageLength = lines;
    }
    if (command.save)
        m_router->save();

    std::string answer;
    if (!answerOf(command, match, typed, values, answer, reply))
        return false;

    if (command.mode >= 0) {
        m_mode = command.mode;
        m_section.clear();
    }
    if (command.section) {
        m_section = normalizedLine(command.section->render(values));
        const ConfigTree::Change change = m_router->enterSection(m_section);
        m_changedConfig = m_changedConfig || change == ConfigTree::Change::Added;
    }

    if (!command.raw) {
        answer = crLf(answer);
        if (!answer.empty() && answer.back() != '\n')
            answer += "\r\n";   // the prompt starts a line of its own
    }
    deliver(std::move(answer), command.close, reply);
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
            switch (command.missing) {
            case Missing::Invalid:
                error(MatchError::Invalid, caretFor(*command.file, match, typed), typed, reply);
                return false;
            case Missing::Text:
                answer = command.missingText.render(values);
                break;
            case Missing::Warn:
                reply.warning = std::string("cannot read the answer to '") + std::string(values.line)
                    + "': " + failure.what();
                break;
            }
        }
    }
    return true;
}

void Conversation::applyConfig(std::string_view line, Reply &reply)
{
    const ConfigTree::Change change = m_router->apply(line, m_section);
    if (change == ConfigTree::Change::Full) {
        reply.bytes = crLf(ConfigFull);
        reply.warning = "the running config is full: a line was not applied";
    } else if (change != ConfigTree::Change::None) {
        m_changedConfig = true;
    }
    reply.bytes += prompt();
}

void Conversation::error(MatchError error, std::size_t offset, std::string_view typed, Reply &reply)
{
    ++m_errors;
    const TemplateValues values{.hostname = m_router->hostname(), .line = trimmedLine(typed)};
    std::string text;
    switch (error) {
    case MatchError::Invalid:
        text = std::string(lastLineWidth(prompt()) + offset, ' ') + "^\n" + m_model->invalid.render(values);
        break;
    case MatchError::Ambiguous:
        text = m_model->ambiguous.render(values);
        break;
    case MatchError::Incomplete:
    case MatchError::None:
        text = m_model->incomplete.render(values);
        break;
    }
    reply.bytes = crLf(text) + prompt();
}

void Conversation::deliver(std::string answer, bool close, Reply &reply)
{
    const std::size_t pageLines = m_pageLength == 0 ? 0 : std::max<std::size_t>(1, m_pageLength - 1);
    reply.bytes += m_pager.begin(std::move(answer), pageLines, fixedText(m_model->more));
    if (m_pager.active()) {
        m_closeAfterPaging = close;
        return;
    }
    finish(close, reply);
}

void Conversation::finish(bool close, Reply &reply)
{
    if (close) {
        m_stage = Stage::Ended;
        reply.end = Ending::Closed;
        return;
    }
    reply.bytes += prompt();
}

} // namespace zentrel::console::commands
