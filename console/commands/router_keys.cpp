// router_keys.cpp: the keys of commands.yaml that hold for the whole router: login, errors, paging, the config's style, filters.
#include "console/commands/loader_parts.h"
#include "console/commands/router_files.h"
#include "platform/error.h"

#include <algorithm>
#include <cctype>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view DefaultFailed = "% Login invalid\n";
constexpr std::string_view DefaultPasswordPrompt = "Password: ";
constexpr std::size_t DefaultPageLength = 24;
constexpr std::string_view DefaultCount = "Number of lines which match regexp = {count}\n";
constexpr std::size_t MaxFilterNames = 32;

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
        yaml.fail(node, "errors: is a map of invalid:, unknown:, ambiguous:, incomplete: and caret:");
    yaml.checkKeys(node, {"invalid", "unknown", "ambiguous", "incomplete", "caret"}, "errors");
    yaml.compileKey(node, "invalid", ErrorScope, model.invalid);
    yaml.compileKey(node, "unknown", ErrorScope, model.unknown);
    yaml.compileKey(node, "ambiguous", ErrorScope, model.ambiguous);
    yaml.compileKey(node, "incomplete", ErrorScope, model.incomplete);
    if (const YAML::Node caret = node["caret"])
        model.caret = yaml.flag(caret, "caret");
}

void readStyle(YamlFields &yaml, Model &model, const YAML::Node &style, const YAML::Node &indent)
{
    if (style) {
        const std::string name = yaml.text(style, "config-style");
        if (name == "junos")
            model.config.style = ConfigStyle::Junos;
        else if (name != "ios")
            yaml.fail(style, "config-style: is ios (lines and sections) or junos (statements in braces)");
    }
    model.config.unique = defaultUniqueKeys(model.config.style);
    model.config.indent = model.config.style == ConfigStyle::Junos ? 4 : 1;
    if (indent) {
        const double blanks = yaml.number(indent, "indent");
        if (blanks < 1 || blanks > double(ConfigTree::MaxIndent) || blanks != double(std::size_t(blanks)))
            yaml.fail(indent, "indent: is a whole number of blanks from 1 to 8");
        model.config.indent = std::size_t(blanks);
    }
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
    model.config.unique = std::move(unique);
}

void readInterfaceTypes(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node)
        return;
    if (!node.IsSequence() || node.size() == 0)
        yaml.fail(node, "interfaces: is a list of interface types, as GigabitEthernet");
    model.interfaceTypes.clear();
    for (const YAML::Node &item : node) {
        const std::string type = yaml.text(item, "an interface type");
        if (type.empty() || !std::all_of(type.begin(), type.end(), [](unsigned char c) { return std::isalpha(c) || c == '-'; }))
            yaml.fail(item, "an interface type is letters (and -), the number left to the name typed: '" + type + "'");
        model.interfaceTypes.push_back(type);
    }
}

InterfaceName fullInterfaceName(std::string_view typed, const std::vector<std::string> &types, std::string &full)
{
    const std::size_t letters = std::min(typed.size(), typed.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-"));
    const std::string_view kind = typed.substr(0, letters);
    for (const std::string &type : types) {
        if (kind.empty() || kind.size() > type.size()
            || !std::equal(kind.begin(), kind.end(), type.begin(),
                           [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); }))
            continue;
        if (letters == typed.size())
            return InterfaceName::NoNumber;
        full = type;
        full += typed.substr(letters);
        return InterfaceName::Full;
    }
    return InterfaceName::UnknownType;
}

void readFilters(YamlFields &yaml, Model &model, const YAML::Node &node)
{
    if (!node || node.IsNull())
        return;
    if (!node.IsSequence() && !node.IsMap())
        yaml.fail(node, "filters: is a list of filters, or a map of the words typed after | to filters");
    auto add = [&](const YAML::Node &typed, const YAML::Node &does) {
        Filter filter;
        const std::string words = normalizedLine(yaml.text(typed, "a filter's words"));
        for (std::size_t start = 0; start < words.size();) {
            const std::size_t end = std::min(words.find(' ', start), words.size());
            filter.words.push_back(words.substr(start, end - start));
            start = end + 1;
        }
        if (filter.words.empty() || words.find('|') != std::string::npos)
            yaml.fail(typed, "a filter is the words typed after |, with no | of their own");
        const YAML::Node kind = does.IsMap() ? does["kind"] : does;
        if (does.IsMap())
            yaml.checkKeys(does, {"kind", "answer"}, "filter '" + words + "'");
        if (!kind || !filterKindNamed(yaml.text(kind, "a filter"), filter.kind))
            yaml.fail(kind ? kind : does, "a filter is include, exclude, begin, section, count, display-set or no-more");
        filter.answer = Template::compile(DefaultCount, {.count = true});
        if (does.IsMap() && does["answer"]) {
            if (filter.kind != FilterKind::Count)
                yaml.warn(does["answer"].Mark(), "answer: is the text of a count filter: it is ignored here");
            filter.answer = yaml.compile(does["answer"], {.count = true}, "answer");
        }
        if (model.filters.size() == MaxFilterNames)
            yaml.fail(typed, "more than " + std::to_string(MaxFilterNames) + " filters");
        if (filter.kind == FilterKind::DisplaySet && model.config.style != ConfigStyle::Junos)
            yaml.warn(kind.Mark(), "display-set shows Junos statements as set lines: with config-style: ios it changes nothing");
        model.filters.push_back(std::move(filter));
    };
    // A list names filters by their kind, or maps words to kinds as the map form does.
    auto addMap = [&](const YAML::Node &map) {
        for (const auto &item : map)
            add(item.first, item.second);
    };
    if (node.IsMap())
        addMap(node);
    else
        for (const YAML::Node &item : node)
            item.IsMap() ? addMap(item) : add(item, item);
}

void checkCandidates(YamlFields &yaml, const Model &model)
{
    const bool candidates = std::any_of(model.modes.begin(), model.modes.end(),
                                        [](const Mode &mode) { return mode.candidate != CandidateKind::None; });
    for (const Mode &mode : model.modes)
        for (const Command &command : mode.commands) {
            YAML::Mark where;
            where.line = int(command.line) - 1;
            where.column = int(command.column) - 1;
            const bool opens = command.mode >= 0 && model.modes[std::size_t(command.mode)].candidate == CandidateKind::Session;
            if (command.session && !opens)
                yaml.warn(where, "'" + command.text + "': session: names a candidate only for a command that enters "
                                 "a mode with candidate: session");
            if (!candidates && (command.commit || command.discard || (command.confirm && command.confirm->whenUncommitted)))
                yaml.warn(where, "'" + command.text + "' acts on a candidate, and no mode has candidate:");
        }
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
