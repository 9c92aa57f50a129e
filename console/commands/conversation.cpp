// conversation.cpp: one session's stages: the login dialog, command lines, passwords and replies, errors and paging.
#include "console/commands/conversation.h"

#include <algorithm>
#include <utility>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view SecretMask = "***";
constexpr std::string_view BadSecret = "% Bad secrets\n";
constexpr std::string_view Unrecognized = "% Unrecognized command\n";

// The width of the prompt's last line, where the typed line starts.
std::size_t lastLineWidth(std::string_view text)
{
    const std::size_t end = text.find_last_of("\r\n");
    return end == std::string_view::npos ? text.size() : text.size() - end - 1;
}

} // namespace

Conversation::Conversation(ModelPtr model, std::shared_ptr<RouterState> router, platform::TextFiles &files,
                           ConversationOptions options)
    : m_model(std::move(model)), m_router(std::move(router)), m_files(files), m_options(options),
      m_mode(m_model->start), m_user(m_options.user), m_answersAt(m_model->answersSlots, 0),
      m_pageLength(m_model->pageLength)
{
    if (m_options.exec)
        m_pageLength = 0;
    else if (m_options.rows && m_pageLength > 0)
        setPageLength(*m_options.rows);
}

std::string Conversation::fixedText(const Template &text) const
{
    return crLf(text.render({.hostname = m_router->hostname(), .user = m_user, .session = sessionName()}));
}

// An exec request's answer has no prompt around it.
std::string Conversation::prompt() const
{
    if (m_options.exec)
        return {};
    std::vector<std::string_view> own(m_promptValues.begin(), m_promptValues.end());
    return crLf(m_model->modes[std::size_t(m_mode)].prompt.render(
        {.hostname = m_router->hostname(), .user = m_user, .session = sessionName(), .own = own}));
}

std::string Conversation::welcome() const
{
    return fixedText(m_model->motd) + prompt();
}

Reply Conversation::start()
{
    Reply reply;
    reply.delay = m_model->delay;
    if (m_options.exec) {
        m_stage = Stage::Commands;
        reply.delay = 0;
        return reply;
    }
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
        reply = ctrlZEndsLine() && typed.ends_with('\x1a') ? ctrlZLine(typed) : commandLine(typed);
        break;
    case Stage::CommandPassword:
        reply = commandPassword(typed);
        break;
    case Stage::Confirm:
        reply = confirmReply(typed);
        break;
    case Stage::Ended:
        return {};
    }
    reply.bytes.insert(0, erased);
    if (m_options.exec && m_stage == Stage::Commands && reply.end == Ending::None) {
        m_stage = Stage::Ended;
        reply.end = Ending::Closed;
    }
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
    const Resolved resolved = resolve(typed);
    const Match &match = resolved.match;
    if (match.command) {
        record.matched = match.command->text;
        record.config = match.command->config && !resolved.nested;
        if (!proceed(resolved, typed, {}, reply)) {
            record.matched.reset();
            record.error = MatchError::Invalid;
            record.config = false;
        }
    } else if (match.error == MatchError::Invalid && !resolved.nested && !resolved.badName
               && m_model->modes[std::size_t(m_mode)].config && applyConfig(line, reply)) {
        record.config = true;
    } else {
        record.error = match.error;
        const std::string_view part = trimmedLine(resolved.part);
        error(match.error, match.offset, typed, std::size_t(part.data() - typed.data()), reply);
    }
    reply.record = std::move(record);
    return reply;
}

// A line ended with Ctrl-Z: what came before it is run as a line, then the
// mode's ctrl-z: command, as a router leaves its config mode with the line
// applied. A line that asks a question, pages or leaves the mode has its
// answer alone.
Reply Conversation::ctrlZLine(std::string_view typed)
{
    const std::string then = m_model->modes[std::size_t(m_mode)].ctrlZ;
    const std::string_view before = typed.substr(0, typed.size() - 1);
    Reply reply = commandLine(trimmedLine(before).empty() ? std::string_view(then) : before);
    if (reply.record)
        reply.record->line = std::string(typed);
    if (trimmedLine(before).empty() || !ctrlZEndsLine() || m_pager.active() || reply.end != Ending::None
        || reply.otherPrompt)
        return reply;
    const std::string shown = prompt();
    if (!reply.bytes.ends_with(shown))
        return reply;
    reply.bytes.resize(reply.bytes.size() - shown.size());
    Reply after = commandLine(then);
    --m_commands;   // one line typed
    reply.bytes += after.bytes;
    reply.end = after.end;
    if (after.delay && !reply.delay)
        reply.delay = after.delay;
    if (!after.warning.empty())
        reply.warning += (reply.warning.empty() ? "" : "; ") + after.warning;
    return reply;
}

Reply Conversation::help(std::string_view partial)
{
    Reply reply;
    reply.delay = 0;
    if (!helpKey() || m_pager.active())
        return reply;
    const CommandIndex::Choices choices = m_model->modes[std::size_t(m_mode)].index.choices(partial);
    std::string text;
    if (choices.error == MatchError::Ambiguous) {
        text = m_model->ambiguous.render({.hostname = m_router->hostname(), .user = m_user,
                                          .session = sessionName(), .line = trimmedLine(partial)});
    } else if (choices.words.empty()) {
        text = std::string(Unrecognized);
    } else if (choices.within) {
        // Within a word: the words it may become, on one line.
        for (const std::string &word : choices.words)
            text += word + "  ";
        text += '\n';
    } else {
        for (const std::string &word : choices.words)
            text += "  " + word + "\n";
    }
    if (!choices.words.empty())
        text += '\n';   // a blank line after a list
    reply.bytes = crLf("\n" + text) + prompt();
    reply.bytes += partial;
    return reply;
}

Reply Conversation::complete(std::string_view partial)
{
    Reply reply;
    reply.delay = 0;
    if (!helpKey() || m_pager.active())
        return reply;
    const CommandIndex::Choices choices = m_model->modes[std::size_t(m_mode)].index.choices(partial);
    if (choices.within && choices.words.size() == 1) {
        const std::size_t start = partial.find_last_of(" \t") + 1;   // npos + 1: the whole line
        reply.typeIn = choices.words.front().substr(partial.size() - start) + ' ';
        reply.bytes = reply.typeIn;
        return reply;
    }
    // Nothing or more than one to complete to: the line again, to type on.
    reply.bytes = "\r\n" + prompt();
    reply.bytes += partial;
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
    const Resolved resolved = resolve(line);
    const Command *command = resolved.match.command;
    if (!command || !command->password || (!command->anyPassword && typed != *command->password)) {
        reply.bytes = crLf(BadSecret) + prompt();
        return reply;
    }
    proceed(resolved, line, {.password = true}, reply);
    return reply;
}

Reply Conversation::confirmReply(std::string_view typed)
{
    Reply reply;
    reply.delay = m_model->delay;
    m_stage = Stage::Commands;
    const std::string line = std::move(m_pendingLine);
    m_pendingLine.clear();
    const Resolved resolved = resolve(line);
    const Command *command = resolved.match.command;
    reply.record = CommandRecord{.mode = mode(), .line = std::string(typed), .reply = true};
    if (!command || !command->confirm) {
        reply.bytes = prompt();
        return reply;
    }
    reply.record->matched = command->text;
    const std::string_view given = trimmedLine(typed);
    proceed(resolved, line, {.password = true, .reply = std::string(given.empty() ? command->confirm->defaultReply : given)},
            reply);
    return reply;
}

void Conversation::error(MatchError error, std::size_t offset, std::string_view typed, std::size_t firstWord,
                         Reply &reply)
{
    ++m_errors;
    TemplateValues values{.hostname = m_router->hostname(), .user = m_user, .session = sessionName(),
                          .line = trimmedLine(typed)};
    LineWords words(typed);
    std::string_view word;
    std::size_t at = 0;
    while (words.next(word, at) && at < offset)
        ++values.position;
    if (at >= offset && at < typed.size())
        values.word = word;
    std::string text;
    switch (error) {
    case MatchError::Invalid:
        if (m_model->caret)
            text = std::string(lastLineWidth(prompt()) + offset, ' ') + "^\n";
        text += (offset == firstWord && m_model->unknown ? *m_model->unknown : m_model->invalid).render(values);
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

void Conversation::deliver(std::string answer, bool close, bool paged, Reply &reply)
{
    const std::size_t pageLines = !paged || m_pageLength == 0 ? 0 : std::max<std::size_t>(1, m_pageLength - 1);
    std::string shown = m_pager.begin(std::move(answer), pageLines, pageLines ? fixedText(m_model->more) : std::string());
    if (reply.bytes.empty())
        reply.bytes = std::move(shown);
    else
        reply.bytes += shown;
    if (m_pager.active()) {
        m_closeAfterPaging = close;
        return;
    }
    finish(close, reply);
}

void Conversation::finish(bool close, Reply &reply)
{
    std::string otherPrompt = std::exchange(m_otherPrompt, {});
    if (close) {
        m_stage = Stage::Ended;
        reply.end = Ending::Closed;
        return;
    }
    reply.otherPrompt = !otherPrompt.empty();
    reply.bytes += reply.otherPrompt ? otherPrompt : prompt();
}

} // namespace zentrel::console::commands
