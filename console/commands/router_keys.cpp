// router_keys.cpp: the keys of commands.yaml that hold for the whole router: login, errors, paging, unique, running-config.
#include "console/commands/loader_parts.h"
#include "console/commands/router_files.h"
#include "platform/error.h"

namespace zentrel::console::commands {

namespace {

constexpr std::string_view DefaultFailed = "% Login invalid\n";
constexpr std::string_view DefaultPasswordPrompt = "Password: ";
constexpr std::size_t DefaultPageLength = 24;

} // namespace

void readLogin(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node)
        return;
    Login login;
    login.password = Template::literal(DefaultPasswordPrompt);
    login.failed = Template::literal(DefaultFailed);
    if (!node.IsNull()) {
        if (!node.IsMap())
            yaml.fail(node, "login: is a map of banner:, username:, password:, users: and failed:");
        yaml.checkKeys(node, {"banner", "username", "password", "users", "failed"}, "login");
        yaml.compileKey(node, "banner", FixedScope, login.banner);
        yaml.compileKey(node, "username", FixedScope, login.username);
        yaml.compileKey(node, "password", FixedScope, login.password);
        yaml.compileKey(node, "failed", FixedScope, login.failed);
        if (const YAML::Node users = node["users"]) {
            if (!users.IsMap())
                yaml.fail(users, "users: is a map of user: password");
            login.users.emplace();
            for (const auto &user : users)
                (*login.users)[yaml.text(user.first, "a user")] = yaml.text(user.second, "a password");
        }
    }
    model.login = std::move(login);
}

void readErrors(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node || node.IsNull())
        return;
    if (!node.IsMap())
        yaml.fail(node, "errors: is a map of invalid:, ambiguous: and incomplete:");
    yaml.checkKeys(node, {"invalid", "ambiguous", "incomplete"}, "errors");
    yaml.compileKey(node, "invalid", LineScope, model.invalid);
    yaml.compileKey(node, "ambiguous", LineScope, model.ambiguous);
    yaml.compileKey(node, "incomplete", LineScope, model.incomplete);
}

void readPaging(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node || node.IsNull())
        return;
    if (!node.IsMap())
        yaml.fail(node, "paging: is a map of length: and more:");
    yaml.checkKeys(node, {"length", "more"}, "paging");
    model.pageLength = DefaultPageLength;
    if (const YAML::Node length = node["length"]) {
        const double lines = yaml.number(length, "length");
        if (lines > double(MaxPageLength) || lines != double(std::size_t(lines)))
            yaml.fail(length, "length: is a whole number of lines from 0 to 512");
        model.pageLength = std::size_t(lines);
    }
    yaml.compileKey(node, "more", FixedScope, model.more);
}

void readUnique(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node)
        return;
    if (!node.IsSequence())
        yaml.fail(node, "unique: is a list of keys; keys that replace each other make a list of their own");
    UniqueKeys unique;
    for (const YAML::Node &item : node) {
        std::vector<std::string> group;
        if (item.IsSequence())
            for (const YAML::Node &key : item)
                group.push_back(normalizedLine(yaml.text(key, "a key")));
        else
            group.push_back(normalizedLine(yaml.text(item, "a key")));
        std::erase(group, std::string());
        if (group.empty())
            yaml.fail(item, "an empty key would take every line");
        unique.push_back(std::move(group));
    }
    model.unique = std::move(unique);
}

void readConfig(YamlFields &yaml, ReadContext &context, const YAML::Node &node)
{
    std::string name = DefaultConfigFile;
    if (node) {
        name = yaml.text(node, "running-config");
        if (!staysInDirectory(name))
            yaml.fail(node, "running-config: names a file of the router's directory: a relative path with no '..'");
    }
    try {
        context.model.initialConfig = readBoundedFile(context.files, context.pathOf(name), ConfigTree::MaxBytes);
    } catch (const platform::Error &error) {
        if (!node && error.code() == platform::FileNotFound)
            return;   // no ROUTER.CFG: the router starts with an empty configuration
        yaml.fail(node ? node.Mark() : YAML::Mark::null_mark(),
                  std::string("cannot read the running config: ") + error.what());
    }
}

} // namespace zentrel::console::commands
