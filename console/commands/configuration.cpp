// configuration.cpp: the IOS and Junos shapes of a configuration behind one interface.
#include "console/commands/configuration.h"

#include "console/commands/statement_tree.h"
#include "console/commands/text_diff.h"

#include <algorithm>

namespace zentrel::console::commands {

namespace {

// The router has one name whatever `unique:` lists: naming it again replaces it.
UniqueKeys withKey(UniqueKeys unique, const std::string &key)
{
    const bool listed = std::any_of(unique.begin(), unique.end(), [&](const auto &group) {
        return std::find(group.begin(), group.end(), key) != group.end();
    });
    if (!listed)
        unique.push_back({key});
    return unique;
}

class LineConfiguration : public Configuration
{
public:
    LineConfiguration(ConfigTree tree, UniqueKeys unique) : m_tree(std::move(tree)), m_unique(std::move(unique)) {}

    std::unique_ptr<Configuration> clone() const override { return std::make_unique<LineConfiguration>(*this); }
    ConfigChange apply(std::string_view line, std::string_view section) override
    {
        return m_tree.apply(line, section, m_unique);
    }
    ConfigChange enterSection(std::string_view section) override { return m_tree.enterSection(section); }
    void setHostname(std::string_view name) override { m_tree.apply("hostname " + std::string(name), {}, {{"hostname"}}); }
    std::string text() const override { return m_tree.text(); }
    std::string hostname() const override { return std::string(m_tree.topValue("hostname")); }
    std::optional<std::string> section(std::string_view header) const override { return m_tree.section(header); }
    std::size_t bytes() const override { return m_tree.bytes(); }
    std::string compare(const Configuration &candidate, std::string_view name) const override
    {
        return unifiedDiff(text(), candidate.text(), "system:/running-config",
                           "session:/" + std::string(name) + "-session-config");
    }

private:
    ConfigTree m_tree;
    UniqueKeys m_unique;
};

class StatementConfiguration : public Configuration
{
public:
    StatementConfiguration(StatementTree tree, UniqueKeys unique) : m_tree(std::move(tree)), m_unique(std::move(unique)) {}

    std::unique_ptr<Configuration> clone() const override { return std::make_unique<StatementConfiguration>(*this); }
    ConfigChange apply(std::string_view line, std::string_view section) override
    {
        return m_tree.apply(line, section, m_unique);
    }
    ConfigChange enterSection(std::string_view) override { return ConfigChange::None; }
    void setHostname(std::string_view name) override
    {
        m_tree.apply("set system host-name " + std::string(name), {}, {{"host-name"}});
    }
    std::string text() const override { return m_tree.text(); }
    std::string setLines() const override { return m_tree.setLines(); }
    std::string hostname() const override { return std::string(m_tree.value({"system"}, "host-name")); }
    std::size_t bytes() const override { return m_tree.bytes(); }
    std::string compare(const Configuration &candidate, std::string_view) const override
    {
        const auto *other = dynamic_cast<const StatementConfiguration *>(&candidate);
        return other ? StatementTree::compare(m_tree, other->m_tree) : std::string();
    }

private:
    StatementTree m_tree;
    UniqueKeys m_unique;
};

} // namespace

UniqueKeys defaultUniqueKeys(ConfigStyle style)
{
    if (style == ConfigStyle::Junos)
        return {{"host-name"}, {"description"}};
    return defaultUniqueKeys();
}

std::unique_ptr<Configuration> Configuration::parse(std::string_view text, const ConfigRules &rules)
{
    if (rules.style == ConfigStyle::Junos)
        return std::make_unique<StatementConfiguration>(StatementTree::parse(text, rules.indent),
                                                        withKey(rules.unique, "host-name"));
    return std::make_unique<LineConfiguration>(ConfigTree::parse(text, rules.indent), withKey(rules.unique, "hostname"));
}

} // namespace zentrel::console::commands
