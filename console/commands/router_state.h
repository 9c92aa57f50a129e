// router_state.h: what one command-driven router keeps between sessions: its running and startup configs.
#pragma once
#include "console/commands/config_tree.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zentrel::console::commands {

struct Model;

// One per router, shared by all of its sessions (each copy of a router has
// its own). Not thread-safe: sessions run on one event loop. The hostname
// is the running config's `hostname` line, "Router" without one.
class RouterState
{
public:
    static constexpr std::string_view DefaultHostname = "Router";

    // Running and startup config start as the model's initial config, with
    // the model's `hostname` written into it when the file sets one.
    explicit RouterState(const Model &model);

    const std::string &hostname() const { return m_hostname; }

    // The running config as a file holds it (LF line ends): what
    // `--configs` writes.
    std::string runningConfig() const { return m_running.text(); }
    const std::string &startupConfig() const { return m_startup; }
    // The running config as `show running-config` prints it: a
    // "Building configuration..." line and the size of what follows.
    std::string showRunning() const;

    // A line typed in a configuration mode, at the top level or under
    // `section` (empty: top level); see ConfigTree::apply.
    ConfigTree::Change apply(std::string_view line, std::string_view section);
    ConfigTree::Change enterSection(std::string_view section);
    // `save: true`: the startup config becomes the running config.
    void save();

    // Goes up by one at every change of the running config: a writer of
    // the config compares it with the value it last wrote.
    std::uint64_t generation() const { return m_generation; }

private:
    void changed(ConfigTree::Change change);

    UniqueKeys m_unique;
    ConfigTree m_running;
    std::string m_startup;
    std::string m_hostname;
    std::uint64_t m_generation = 0;
};

} // namespace zentrel::console::commands
