// command_router.h: command-driven routers as zentrel-serve serves them: a model per directory, a running config per router.
#pragma once
#include "console/commands/model.h"
#include "console/commands/router_state.h"
#include "console/connection.h"
#include "console/dialogue.h"
#include "serve/fleet_plan.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zentrel::platform {
class TextFiles;
}

namespace zentrel::serve {

class ConfigFiles;

// One router of the fleet whose directory holds commands.yaml: the model it
// shares with the other copies of its directory, the running config it keeps
// for its own sessions, and a dialogue for each session.
class CommandRouter
{
public:
    CommandRouter(std::string name, console::commands::ModelPtr model, platform::TextFiles &files,
                  const ConfigFiles *configs, std::function<void(const std::string &)> problem);

    std::unique_ptr<console::Dialogue> dialogue(const console::SessionInfo &info, console::Carrier carrier,
                                                const console::TerminalRequest &terminal = {});
    // Whether the login's `users:` let this account in over SSH: true
    // when it lists none. A login that asks no user name takes any name
    // with one of its passwords, as its Telnet dialog does.
    bool lets(std::string_view user, std::string_view password) const;
    // With --configs: the running config to NAME.cfg, when it changed since
    // it was last written (or was never written). Failures go to `problem`.
    void saveConfig();
    std::string runningConfig() const;
    bool saveFailed() const { return m_saveFailed; }
    const console::commands::Model &model() const { return *m_model; }

private:
    std::string m_name;
    console::commands::ModelPtr m_model;
    std::shared_ptr<console::commands::RouterState> m_state;
    platform::TextFiles &m_files;
    const ConfigFiles *m_configs;
    std::function<void(const std::string &)> m_problem;
    std::uint64_t m_written = 0;   // the running config's generation last written
    bool m_everWritten = false;
    bool m_saveFailed = false;
};

// Every command-driven router of the run, by name.
class CommandRouters
{
public:
    CommandRouters(platform::TextFiles &files, const ConfigFiles *configs,
                   std::function<void(const std::string &)> problem);

    // Reads each directory's commands.yaml once, for all of its routers.
    // Throws console::commands::ModelError: FILE:LINE:COLUMN and the reason.
    void load(const std::vector<RouterPlan> &plans);
    // Null for a router that plays RESPONSE.TXT.
    CommandRouter *find(const std::string &name) const;
    // At the start and the exit: every router's running config, where it changed.
    void saveConfigs();
    bool anySaveFailed() const;

private:
    platform::TextFiles &m_files;
    const ConfigFiles *m_configs;
    std::function<void(const std::string &)> m_problem;
    std::map<std::string, std::unique_ptr<CommandRouter>> m_routers;
};

} // namespace zentrel::serve
