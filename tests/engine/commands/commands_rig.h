// commands_rig.h: a command-driven router in a scratch directory, and sessions typed into it line by line.
#pragma once
#include "console/commands/conversation.h"
#include "console/commands/model.h"
#include "console/commands/router_state.h"
#include "platform/posix/posix_text_files.h"
#include "tests/serve/temp_dir.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::tests {

struct CommandsRig {
    TempDir dir;
    platform::PosixTextFiles files;
    console::commands::ModelPtr model;
    std::shared_ptr<console::commands::RouterState> router;

    CommandsRig() = default;
    explicit CommandsRig(std::string_view yaml) { dir.write("commands.yaml", yaml); }

    // Loads the model and gives the router its state; a load error fails the test.
    void load()
    {
        model = console::commands::loadModel(dir.path(), files);
        router = std::make_shared<console::commands::RouterState>(*model);
    }
    // Over SSH the session logged in as admin; over Telnet the login dialog asks.
    std::unique_ptr<console::commands::Conversation> session(bool ssh = true)
    {
        return std::make_unique<console::commands::Conversation>(
            model, router, files, console::commands::ConversationOptions{.ssh = ssh, .user = "admin"});
    }
};

// Types each line in turn; the reply to the last one.
inline console::commands::Reply typeLines(console::commands::Conversation &session,
                                          const std::vector<std::string> &lines)
{
    console::commands::Reply reply;
    for (const std::string &line : lines)
        reply = session.line(line);
    return reply;
}

} // namespace zentrel::tests
