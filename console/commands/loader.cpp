// loader.cpp: commands.yaml read into a Model: its modes and commands, their texts, and the files they name.
#include "console/commands/loader_parts.h"
#include "console/commands/router_files.h"
#include "platform/error.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

namespace zentrel::console::commands {

namespace {

constexpr std::string_view DefaultInvalid = "% Invalid input detected at '^' marker.\n";
constexpr std::string_view DefaultAmbiguous = "% Ambiguous command:  \"{line}\"\n";
constexpr std::string_view DefaultIncomplete = "% Incomplete command.\n";
constexpr std::string_view DefaultMore = " --More-- ";

// What makes two commands take the same lines: their fixed words and where
// their variables stand, whatever the variables are called.
std::string shapeOf(const Command &command)
{
    if (command.pattern)
        return command.text;
    std::string shape;
    for (const Word &word : command.words) {
        shape += word.kind == Word::Kind::Fixed ? word.text : word.kind == Word::Kind::One ? "{}" : "{...}";
        shape += ' ';
    }
    return shape;
}

std::vector<Finding> inFileOrder(std::vector<Finding> findings)
{
    std::stable_sort(findings.begin(), findings.end(), [](const Finding &a, const Finding &b) {
        return std::tie(a.line, a.column) < std::tie(b.line, b.column);
    });
    return findings;
}

class Loader
{
public:
    Loader(const std::string &dir, platform::TextFiles &files, bool lint) : m_context{*m_model, files}, m_lint(lint)
    {
        m_model->dir = dir;
        m_model->file = (std::filesystem::path(dir) / CommandsFile).string();
    }

    std::vector<Finding> &findings() { return m_yaml ? m_yaml->findings() : m_findings; }
    std::shared_ptr<Model> run();

private:
    void readRoot(const YAML::Node &root);
    void readModes(const YAML::Node &modes);
    void readMode(Mode &mode, const YAML::Node &value);
    void compilePrompts();
    void linkModes();
    template <class Piece>
    void piece(Piece &&read) { readPiece(m_lint, std::forward<Piece>(read)); }

    std::shared_ptr<Model> m_model = std::make_shared<Model>();
    ReadContext m_context;
    bool m_lint;
    std::unique_ptr<YamlFields> m_yaml;
    std::vector<Finding> m_findings;      // before the source is read
    std::vector<YAML::Node> m_modeKeys;   // where each mode is named
    std::vector<YAML::Node> m_parentNodes;
    std::vector<YAML::Node> m_promptNodes;
    std::vector<YAML::Node> m_ctrlZNodes;
    std::size_t m_commandCount = 0;
};

std::shared_ptr<Model> Loader::run()
{
    std::string source;
    try {
        source = readBoundedFile(m_context.files, m_model->file, MaxCommandsFileBytes);
    } catch (const platform::Error &error) {
        std::string reason = error.what();
        if (reason.starts_with(m_model->file + ": "))
            reason.erase(0, m_model->file.size() + 2);
        m_findings.push_back({m_model->file, 0, 0, "cannot read: " + reason, true});
        throw BrokenPiece{};
    }
    m_yaml = std::make_unique<YamlFields>(m_model->file, std::move(source));

    YAML::Node root;
    try {
        root = YAML::Load(m_yaml->source());
    } catch (const YAML::ParserException &error) {
        m_yaml->fail(error.mark, error.msg);
    }
    if (!root.IsMap())
        m_yaml->fail(root.IsDefined() ? root.Mark() : YAML::Mark(), "the file must be a map with a key modes:");
    readRoot(root);
    m_model->warnings = inFileOrder(m_yaml->findings());
    return m_model;
}

void Loader::readRoot(const YAML::Node &root)
{
    YamlFields &yaml = *m_yaml;
    yaml.checkKeys(root, {"hostname", "login", "motd", "start", "modes", "errors", "paging", "running-config",
                          "delay", "unique", "config-style", "indent", "filters", "faults", "messages", "jitter",
                          "on-mismatch", "interfaces", "help"}, "the file");
    Model &model = *m_model;
    model.invalid = Template::compile(DefaultInvalid, ErrorScope);
    model.ambiguous = Template::compile(DefaultAmbiguous, ErrorScope);
    model.incomplete = Template::compile(DefaultIncomplete, ErrorScope);
    model.more = Template::literal(DefaultMore);
    model.config.unique = defaultUniqueKeys(model.config.style);

    piece([&] {
        if (const YAML::Node node = root["hostname"]) {
            const std::string name = yaml.text(node, "hostname");
            if (name.empty() || name.find_first_of(" \t\r\n") != std::string::npos)
                yaml.fail(node, "hostname must be one word");
            model.hostname = name;
        }
    });
    piece([&] {
        if (const YAML::Node node = root["delay"])
            model.delay = yaml.number(node, "delay");
    });
    piece([&] { yaml.compileKey(root, "motd", FixedScope, model.motd); });
    piece([&] { readLogin(yaml, model, root["login"]); });
    piece([&] { readErrors(yaml, model, root["errors"]); });
    piece([&] { readPaging(yaml, model, root["paging"]); });
    piece([&] { readStyle(yaml, model, root["config-style"], root["indent"]); });
    piece([&] { readUnique(yaml, model, root["unique"]); });
    piece([&] { readFilters(yaml, model, root["filters"]); });
    piece([&] { readInterfaceTypes(yaml, model, root["interfaces"]); });
    piece([&] {
        if (const YAML::Node node = root["help"])
            model.help = yaml.flag(node, "help");
    });
    piece([&] { readConfig(yaml, m_context, root["running-config"]); });
    auto schedule = std::make_shared<Schedule>();
    piece([&] { readFaultList(yaml, *schedule, root["faults"]); });
    piece([&] { readMessages(yaml, *schedule, root["messages"]); });
    if (!schedule->faults.empty() || !schedule->messages.empty())
        model.schedule = std::move(schedule);
    piece([&] {
        if (const YAML::Node node = root["jitter"])
            model.jitter = yaml.number(node, "jitter");
    });
    piece([&] {
        if (const YAML::Node node = root["on-mismatch"]) {
            const std::string value = yaml.text(node, "on-mismatch");
            if (value != "close" && value != "continue")
                yaml.fail(node, "on-mismatch: is close (the session ends after the answer) or continue");
            model.mismatchClose = value == "close";
        }
    });

    const YAML::Node modes = root["modes"];
    if (!modes || !modes.IsMap() || modes.size() == 0)
        yaml.fail(modes ? modes.Mark() : root.Mark(), "modes: must name at least one mode, with its prompt");
    readModes(modes);
    compilePrompts();
    piece([&] {
        if (const YAML::Node node = root["start"])
            model.start = modeNamed(yaml, model, node);
    });
    linkModes();
    checkCandidates(yaml, model);
}

void Loader::readModes(const YAML::Node &modes)
{
    // Names first: a command may enter a mode written below it.
    for (const auto &item : modes) {
        Mode mode;
        mode.name = item.first.Scalar();
        if (m_model->findMode(mode.name))
            piece([&] { m_yaml->fail(item.first, "mode " + mode.name + " is written twice"); });
        mode.line = std::size_t(item.first.Mark().line) + 1;
        m_model->modes.push_back(std::move(mode));
        m_modeKeys.push_back(item.first);
        m_parentNodes.emplace_back();
        m_promptNodes.emplace_back();
        m_ctrlZNodes.emplace_back();
    }
    std::size_t index = 0;
    for (const auto &item : modes) {
        Mode &mode = m_model->modes[index];
        const YAML::Node value = item.second;
        piece([&] { readMode(mode, value); });
        if (value.IsMap() && value["parent"])
            m_parentNodes[index].reset(value["parent"]);
        if (value.IsMap() && value["prompt"])
            m_promptNodes[index].reset(value["prompt"]);
        if (value.IsMap() && value["ctrl-z"])
            m_ctrlZNodes[index].reset(value["ctrl-z"]);
        ++index;
    }
}

void Loader::readMode(Mode &mode, const YAML::Node &value)
{
    YamlFields &yaml = *m_yaml;
    const std::string where = "mode " + mode.name;
    if (!value.IsMap())
        yaml.fail(value, where + " must be a map with a prompt:");
    yaml.checkKeys(value, {"prompt", "parent", "config", "candidate", "ctrl-z", "commands"}, where);
    if (!value["prompt"])
        yaml.fail(value, where + " has no prompt:");
    if (const YAML::Node parent = value["parent"])
        mode.parent = modeNamed(yaml, *m_model, parent);
    if (const YAML::Node config = value["config"])
        mode.config = yaml.flag(config, "config");
    if (const YAML::Node candidate = value["candidate"]) {
        const std::string kind = yaml.text(candidate, "candidate");
        if (kind != "shared" && kind != "session")
            yaml.fail(candidate, "candidate: is shared (one for all sessions) or session (one per session, named)");
        mode.candidate = kind == "shared" ? CandidateKind::Shared : CandidateKind::Session;
        mode.config = true;
    }
    if (const YAML::Node ctrlZ = value["ctrl-z"]) {
        mode.ctrlZ = std::string(trimmedLine(yaml.text(ctrlZ, "ctrl-z")));
        if (mode.ctrlZ.empty())
            yaml.fail(ctrlZ, "ctrl-z: is the command line Ctrl-Z runs, as `end`");
    }
    const YAML::Node commands = value["commands"];
    if (!commands || commands.IsNull())
        return;
    if (!commands.IsMap())
        yaml.fail(commands, "commands: of " + where + " must be a map of command: answer");
    for (const auto &item : commands) {
        const YAML::Node key = item.first;
        const YAML::Node answer = item.second;
        piece([&] {
            if (++m_commandCount > MaxCommands)
                yaml.fail(key, "more than " + std::to_string(MaxCommands) + " commands");
            mode.commands.push_back(readCommand(yaml, m_context, key, answer));
            if (mode.commands.back().config && !mode.config)
                yaml.fail(key, "config: true keeps the line in the config: mode " + mode.name + " is no config mode");
        });
    }
}

// A prompt knows the variables of the commands that enter its mode, once
// every command is read.
void Loader::compilePrompts()
{
    std::vector<Mode> &modes = m_model->modes;
    std::vector<std::vector<std::string>> entering(modes.size());
    for (const Mode &mode : modes)
        for (const Command &command : mode.commands) {
            if (command.mode < 0)
                continue;
            std::vector<std::string> &names = entering[std::size_t(command.mode)];
            for (const std::string &name : command.variables)
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
        }
    for (std::size_t i = 0; i < modes.size(); ++i) {
        if (!m_promptNodes[i])
            continue;
        piece([&] {
            const Template wide = m_yaml->compile(m_promptNodes[i], {.own = entering[i]}, "prompt");
            for (std::size_t own : wide.ownUsed())
                if (std::find(modes[i].promptNames.begin(), modes[i].promptNames.end(), entering[i][own])
                    == modes[i].promptNames.end())
                    modes[i].promptNames.push_back(entering[i][own]);
            modes[i].prompt = m_yaml->compile(m_promptNodes[i], {.own = modes[i].promptNames}, "prompt");
        });
    }
}

void Loader::linkModes()
{
    YamlFields &yaml = *m_yaml;
    std::vector<Mode> &modes = m_model->modes;
    for (std::size_t i = 0; i < modes.size(); ++i) {
        int at = modes[i].parent;
        for (std::size_t steps = 0; at >= 0 && steps <= modes.size(); ++steps)
            at = modes[std::size_t(at)].parent;
        if (at >= 0) {
            piece([&] { yaml.fail(m_parentNodes[i], "the parents of mode " + modes[i].name + " lead back to it"); });
            modes[i].parent = -1;
        }
    }
    for (std::size_t i = 0; i < modes.size(); ++i) {
        Mode &mode = modes[i];
        std::map<std::string, const Command *> shapes;
        for (const Command &command : mode.commands) {
            auto [first, added] = shapes.emplace(shapeOf(command), &command);
            if (added)
                continue;
            YAML::Mark where;
            where.line = int(command.line) - 1;
            where.column = int(command.column) - 1;
            yaml.warn(where,
                          "'" + command.text + "' takes the same lines as '" + first->second->text + "' (line "
                              + std::to_string(first->second->line) + "): each such line is ambiguous");
        }
        unsigned depth = 0;
        for (int at = int(i); at >= 0; at = modes[std::size_t(at)].parent, ++depth)
            for (const Command &command : modes[std::size_t(at)].commands)
                mode.index.add(command, depth);
        try {
            mode.index.finish();
        } catch (const std::runtime_error &error) {
            piece([&] { yaml.fail(m_modeKeys[i], error.what()); });
        }
    }
    // Ctrl-Z runs a command of the mode; a mode without ctrl-z: has its parent's.
    for (std::size_t i = 0; i < modes.size(); ++i) {
        if (!modes[i].ctrlZ.empty() && !modes[i].index.match(modes[i].ctrlZ).command)
            piece([&] {
                yaml.fail(m_ctrlZNodes[i], "ctrl-z: '" + modes[i].ctrlZ + "' is no command of mode " + modes[i].name);
            });
    }
    for (Mode &mode : modes)
        for (int at = mode.parent; mode.ctrlZ.empty() && at >= 0; at = modes[std::size_t(at)].parent)
            mode.ctrlZ = modes[std::size_t(at)].ctrlZ;
}

} // namespace

ModelError::ModelError(std::string file, std::size_t line, std::size_t column, const std::string &text)
    : std::runtime_error(Finding{file, line, column, text, true}.toString()), m_file(std::move(file)), m_line(line),
      m_column(column)
{
}

std::string Finding::toString() const
{
    std::string out = file;
    if (line > 0)
        out += ":" + std::to_string(line) + ":" + std::to_string(column);
    return out + ": " + (error ? "error: " : "warning: ") + text;
}

const Mode *Model::findMode(std::string_view name) const
{
    for (const Mode &mode : modes)
        if (mode.name == name)
            return &mode;
    return nullptr;
}

bool hasCommandsFile(const std::string &dir)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(std::filesystem::path(dir) / CommandsFile, error));
}

ModelPtr loadModel(const std::string &dir, platform::TextFiles &files)
{
    Loader loader(dir, files, false);
    try {
        return loader.run();
    } catch (const BrokenPiece &) {
        const Finding &first = loader.findings().back();
        throw ModelError(first.file, first.line, first.column, first.text);
    }
}

std::vector<Finding> lintModel(const std::string &dir, platform::TextFiles &files)
{
    Loader loader(dir, files, true);
    try {
        loader.run();
    } catch (const BrokenPiece &) {
        // The file as a whole cannot be read or parsed, or has no modes:
        // the reading stopped there.
    }
    return inFileOrder(loader.findings());
}

} // namespace zentrel::console::commands
