// router_state.cpp: a router's running and startup configs and the hostname they give.
#include "console/commands/router_state.h"

#include "console/commands/model.h"

#include <algorithm>

namespace zentrel::console::commands {

RouterState::RouterState(const Model &model)
    : m_unique(model.unique), m_running(ConfigTree::parse(model.initialConfig))
{
    // The router has one name whatever `unique:` lists: `hostname X` replaces it.
    const bool hostnameUnique = std::any_of(m_unique.begin(), m_unique.end(), [](const auto &group) {
        return std::find(group.begin(), group.end(), "hostname") != group.end();
    });
    if (!hostnameUnique)
        m_unique.push_back({"hostname"});
    if (model.hostname)
        m_running.apply("hostname " + *model.hostname, {}, {{"hostname"}});
    m_startup = m_running.text();
    changed(ConfigTree::Change::None);
}

std::string RouterState::showRunning() const
{
    const std::string text = m_running.text();
    return "Building configuration...\n\nCurrent configuration : " + std::to_string(text.size()) + " bytes\n"
        + text;
}

ConfigTree::Change RouterState::apply(std::string_view line, std::string_view section)
{
    const ConfigTree::Change change = m_running.apply(line, section, m_unique);
    changed(change);
    return change;
}

ConfigTree::Change RouterState::enterSection(std::string_view section)
{
    const ConfigTree::Change change = m_running.enterSection(section);
    changed(change);
    return change;
}

void RouterState::save()
{
    m_startup = m_running.text();
}

void RouterState::changed(ConfigTree::Change change)
{
    if (change != ConfigTree::Change::None && change != ConfigTree::Change::Full)
        ++m_generation;
    const std::string_view name = m_running.topValue("hostname");
    m_hostname = name.empty() ? std::string(DefaultHostname) : std::string(name);
}

} // namespace zentrel::console::commands
