// command_router.cpp: command-driven routers as zentrel-serve serves them: a model per directory, a running config per router.
#include "serve/command_router.h"

#include "console/commands/conversation.h"
#include "serve/config_files.h"

#include <algorithm>
#include <utility>

namespace zentrel::serve {

namespace commands = console::commands;

namespace {

std::string_view errorName(commands::MatchError error)
{
    switch (error) {
    case commands::MatchError::Invalid: return "invalid";
    case commands::MatchError::Ambiguous: return "ambiguous";
    case commands::MatchError::Incomplete: return "incomplete";
    case commands::MatchError::None: break;
    }
    return {};
}

// One session's conversation, as the session feeds it.
class ConversationDialogue : public console::Dialogue
{
public:
    ConversationDialogue(CommandRouter &router, std::unique_ptr<commands::Conversation> conversation)
        : m_router(router), m_conversation(std::move(conversation))
    {
    }

    console::Answer start() override { return answer(m_conversation->start(), nullptr); }
    console::Answer line(const console::TypedLine &line) override
    {
        return answer(m_conversation->line(line.text), &line);
    }
    console::Answer key(char c) override { return answer(m_conversation->key(c), nullptr); }
    bool wantsKeys() const override { return m_conversation->wantsKeys(); }
    bool nextLineSecret() const override { return m_conversation->nextLineSecret(); }
    bool ctrlZEndsLine() const override { return m_conversation->ctrlZEndsLine(); }
    bool helpKey() const override { return m_conversation->helpKey(); }
    console::Answer help(const std::string &partial, bool tab) override
    {
        commands::Reply reply = tab ? m_conversation->complete(partial) : m_conversation->help(partial);
        std::string typeIn = std::move(reply.typeIn);
        console::Answer out = answer(std::move(reply), nullptr);
        out.typeIn = std::move(typeIn);
        return out;
    }

    console::CommandTotals ended() override
    {
        // The router's config as this session left it, before its end is told.
        if (m_conversation->changedConfig())
            m_router.saveConfig();
        return {m_conversation->commands(), m_conversation->errors(), m_conversation->mode(),
                m_router.runningConfig(), m_paged};
    }

private:
    console::Answer answer(commands::Reply reply, const console::TypedLine *typed)
    {
        m_paged = m_paged || m_conversation->wantsKeys();
        console::Answer out;
        out.bytes = std::move(reply.bytes);
        out.delay = reply.delay;
        out.warning = std::move(reply.warning);
        out.faults = reply.faults;
        out.otherPrompt = reply.otherPrompt;
        if (reply.end == commands::Ending::Closed)
            out.end = console::EndReason::Closed;
        else if (reply.end == commands::Ending::AuthFailed)
            out.end = console::EndReason::AuthFailed;
        if (reply.record) {
            commands::CommandRecord &record = *reply.record;
            // A password as typed: the reports mask it unless told to keep secrets.
            std::string line = record.secret && typed ? typed->text : std::move(record.line);
            out.report = console::CommandReport{.mode = std::move(record.mode), .line = std::move(line),
                                                .matched = std::move(record.matched),
                                                .error = errorName(record.error), .config = record.config,
                                                .secret = record.secret, .reply = record.reply};
        }
        return out;
    }

    CommandRouter &m_router;
    std::unique_ptr<commands::Conversation> m_conversation;
    bool m_paged = false;
};

} // namespace

CommandRouter::CommandRouter(std::string name, commands::ModelPtr model, platform::TextFiles &files,
                             const ConfigFiles *configs, std::function<void(const std::string &)> problem)
    : m_name(std::move(name)), m_model(std::move(model)),
      m_state(std::make_shared<commands::RouterState>(*m_model)), m_files(files), m_configs(configs),
      m_problem(std::move(problem))
{
}

std::unique_ptr<console::Dialogue> CommandRouter::dialogue(const console::SessionInfo &info,
                                                           console::Carrier carrier,
                                                           const console::TerminalRequest &terminal)
{
    commands::ConversationOptions options;
    options.ssh = carrier == console::Carrier::Ssh;
    options.user = info.user;
    options.exec = terminal.exec;
    if (terminal.rows && *terminal.rows >= 0)
        options.rows = std::size_t(*terminal.rows);
    return std::make_unique<ConversationDialogue>(
        *this, std::make_unique<commands::Conversation>(m_model, m_state, m_files, std::move(options)));
}

bool CommandRouter::lets(std::string_view user, std::string_view password) const
{
    if (!m_model->login || !m_model->login->users)
        return true;
    const auto &users = *m_model->login->users;
    if (!m_model->login->username)
        return std::any_of(users.begin(), users.end(), [&](const auto &entry) { return entry.second == password; });
    const auto found = users.find(std::string(user));
    return found != users.end() && found->second == password;
}

std::string CommandRouter::runningConfig() const
{
    return m_state->runningConfig();
}

void CommandRouter::saveConfig()
{
    if (!m_configs || (m_everWritten && m_written == m_state->generation()))
        return;
    const std::string failure = m_configs->write(m_name, m_state->runningConfig());
    if (!failure.empty()) {
        m_saveFailed = true;
        m_problem("--configs: " + failure);
        return;
    }
    m_written = m_state->generation();
    m_everWritten = true;
}

CommandRouters::CommandRouters(platform::TextFiles &files, const ConfigFiles *configs,
                               std::function<void(const std::string &)> problem)
    : m_files(files), m_configs(configs), m_problem(std::move(problem))
{
}

void CommandRouters::load(const std::vector<RouterPlan> &plans)
{
    std::map<std::string, commands::ModelPtr> models;   // by directory
    for (const RouterPlan &plan : plans) {
        if (!plan.commandDriven)
            continue;
        commands::ModelPtr &model = models[plan.dir];
        if (!model)
            model = commands::loadModel(plan.dir, m_files);
        m_routers[plan.name] = std::make_unique<CommandRouter>(plan.name, model, m_files, m_configs, m_problem);
    }
}

CommandRouter *CommandRouters::find(const std::string &name) const
{
    const auto found = m_routers.find(name);
    return found == m_routers.end() ? nullptr : found->second.get();
}

void CommandRouters::saveConfigs()
{
    for (auto &[name, router] : m_routers)
        router->saveConfig();
}

bool CommandRouters::anySaveFailed() const
{
    for (const auto &[name, router] : m_routers)
        if (router->saveFailed())
            return true;
    return false;
}

} // namespace zentrel::serve
