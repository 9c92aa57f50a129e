// conversation_config.cpp: the session's mode and section, the config lines it keeps, and its candidates.
#include "console/commands/conversation.h"

#include <algorithm>

namespace zentrel::console::commands {

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
