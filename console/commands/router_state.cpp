// router_state.cpp: a router's running, startup and shared candidate configs, and the hostname they give.
#include "console/commands/router_state.h"

#include "console/commands/model.h"

namespace zentrel::console::commands {

RouterState::RouterState(const Model &model)
    : m_style(model.config.style), m_running(Configuration::parse(model.initialConfig, model.config))
{
    if (model.hostname)
        m_running->setHostname(*model.hostname);
    m_startup = m_running->text();
    changed(ConfigChange::None);
}

std::string RouterState::showRunning() const
{
    const std::string text = m_running->text();
    if (m_style == ConfigStyle::Junos)
        return text;
    return "Building configuration...\n\nCurrent configuration : " + std::to_string(text.size()) + " bytes\n"
        + text;
}

std::optional<std::string> RouterState::showRunningSection(std::string_view header) const
{
    std::optional<std::string> section = m_running->section(header);
    if (!section || m_style == ConfigStyle::Junos)
        return section;
    const std::string text = "!\n" + *section + "end\n";
    return "Building configuration...\n\nCurrent configuration : " + std::to_string(text.size()) + " bytes\n" + text;
}

ConfigChange RouterState::apply(std::string_view line, std::string_view section)
{
    const ConfigChange change = m_running->apply(line, section);
    changed(change);
    return change;
}

ConfigChange RouterState::enterSection(std::string_view section)
{
    const ConfigChange change = m_running->enterSection(section);
    changed(change);
    return change;
}

void RouterState::save()
{
    m_startup = m_running->text();
}

Configuration &RouterState::sharedCandidate()
{
    if (!m_candidate)
        m_candidate = m_running->clone();
    return *m_candidate;
}

void RouterState::commit(const Configuration &candidate)
{
    m_running = candidate.clone();
    changed(ConfigChange::Replaced);
}

void RouterState::commitShared()
{
    if (!m_candidate)
        return;
    m_running = std::move(m_candidate);
    changed(ConfigChange::Replaced);
}

void RouterState::changed(ConfigChange change)
{
    if (change != ConfigChange::None && change != ConfigChange::Full && change != ConfigChange::Refused)
        ++m_generation;
    const std::string name = m_running->hostname();
    m_hostname = name.empty() ? std::string(DefaultHostname) : name;
}

} // namespace zentrel::console::commands
