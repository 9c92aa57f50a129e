// router_state.h: what one command-driven router keeps between sessions: its running, startup and shared candidate configs.
#pragma once
#include "console/commands/configuration.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zentrel::console::commands {

struct Model;

// One per router, shared by all of its sessions (each copy of a router has
// its own). Not thread-safe: sessions run on one event loop. The hostname
// is the one the running config names, "Router" without one.
class RouterState
{
public:
    static constexpr std::string_view DefaultHostname = "Router";

    // Running and startup config start as the model's initial config, with
    // the model's `hostname` written into it when the file sets one.
    explicit RouterState(const Model &model);

    const std::string &hostname() const { return m_hostname; }
    ConfigStyle style() const { return m_style; }

    const Configuration &running() const { return *m_running; }
    // The running config as a file holds it (LF line ends): what
    // `--configs` writes.
    std::string runningConfig() const { return m_running->text(); }
    const std::string &startupConfig() const { return m_startup; }
    // The running config as `show running-config` prints it: IOS style
    // with a "Building configuration..." line and the size of what
    // follows; Junos style as it is.
    std::string showRunning() const;
    // One section of it (see Configuration::section) as `show running-config
    // interface X` prints it: IOS style between "!" and "end" under the same
    // two lines. None when there is no such section.
    std::optional<std::string> showRunningSection(std::string_view header) const;

    // A line typed in a configuration mode, at the top level or under
    // `section` (empty: top level); see Configuration::apply.
    ConfigChange apply(std::string_view line, std::string_view section);
    ConfigChange enterSection(std::string_view section);
    // `save: true`: the startup config becomes the running config.
    void save();

    // The candidate the sessions share (`candidate: shared`), made from the
    // running config when a line first changes it.
    Configuration &sharedCandidate();
    // Null while nobody changed it: it is the running config.
    const Configuration *sharedCandidateIfAny() const { return m_candidate.get(); }
    void discardShared() { m_candidate.reset(); }
    // `commit: true`: the running config becomes the candidate.
    void commit(const Configuration &candidate);
    void commitShared();

    // Goes up by one at every change of the running config: a writer of
    // the config compares it with the value it last wrote.
    std::uint64_t generation() const { return m_generation; }

private:
    void changed(ConfigChange change);

    ConfigStyle m_style;
    std::unique_ptr<Configuration> m_running;
    std::unique_ptr<Configuration> m_candidate;
    std::string m_startup;
    std::string m_hostname;
    std::uint64_t m_generation = 0;
};

} // namespace zentrel::console::commands
