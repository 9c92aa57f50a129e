// command_reader.cpp: one command of commands.yaml: its words or pattern, and what it answers and does.
#include "console/commands/loader_parts.h"
#include "console/commands/pattern_options.h"
#include "console/commands/router_files.h"
#include "platform/error.h"

#include <re2/re2.h>

#include <algorithm>

namespace zentrel::console::commands {

namespace {

void readWords(YamlFields &yaml, Command &command, const YAML::Node &key)
{
    std::size_t i = 0;
    const std::string &text = command.text;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i == start)
            break;
        const std::string_view word = std::string_view(text).substr(start, i - start);
        if (!command.words.empty() && command.words.back().kind == Word::Kind::Rest)
            yaml.fail(yaml.markAt(key, start), "a {name...} variable takes the rest of the line: it comes last");
        if (word.find_first_of("{}") == std::string_view::npos) {
            command.words.push_back({Word::Kind::Fixed, std::string(word)});
            continue;
        }
        const bool rest = word.ends_with("...}");
        const bool interface = !rest && word.ends_with(":interface}");
        const std::string_view name = word.substr(1, word.size() - (rest ? 5 : interface ? 12 : 2));
        if (!word.starts_with('{') || !word.ends_with('}') || !isVariableName(name))
            yaml.fail(yaml.markAt(key, start), "a variable is a word of its own, {name}, {name:interface} or "
                          "{name...}: '" + std::string(word) + "'");
        if (interface)
            command.interfaces.push_back(command.variables.size());
        if (std::find(command.variables.begin(), command.variables.end(), name) != command.variables.end())
            yaml.fail(yaml.markAt(key, start), "the variable {" + std::string(name) + "} comes twice");
        command.words.push_back({rest ? Word::Kind::Rest : Word::Kind::One, std::string(name), interface});
        command.variables.emplace_back(name);
    }
    if (command.words.empty())
        yaml.fail(key, "a command needs at least one word");
}

void readPattern(YamlFields &yaml, Command &command, const YAML::Node &key)
{
    auto pattern = std::make_shared<RE2>(command.text.substr(1), patternOptions());
    if (!pattern->ok())
        yaml.fail(key, "the pattern does not compile: " + pattern->error());
    std::vector<std::pair<int, std::string>> named;
    for (const auto &[name, group] : pattern->NamedCapturingGroups())
        named.emplace_back(group, name);
    std::sort(named.begin(), named.end());
    for (const auto &[group, name] : named) {
        if (!isVariableName(name))
            yaml.fail(key, "the group name '" + name + "' cannot be a variable: letters, digits, - and _ only");
        command.groups.push_back(group);
        command.variables.push_back(name);
    }
    command.pattern = std::move(pattern);
}

void readFileKey(YamlFields &yaml, ReadContext &context, Command &command, const YAML::Node &node,
                 const TemplateScope &answerScope)
{
    const std::string written = yaml.text(node, "file");
    if (!staysInDirectory(written))
        yaml.fail(node, "file: names a file of the router's directory: a relative path with no '..'");
    command.file = yaml.compile(node, {.own = command.variables}, "file");
    if (!command.file->ownUsed().empty() || command.file->uses(Variable::Hostname))
        return;   // which file is known only once a line names it
    const std::string path = context.pathOf(command.file->render({}));
    std::string text;
    try {
        text = readBoundedFile(context.files, path, MaxAnswerFileBytes);
    } catch (const platform::Error &error) {
        yaml.fail(node, std::string("cannot read the answer file: ") + error.what());
    }
    if (command.raw)
        return;
    try {
        Template::compile(text, answerScope);
    } catch (const TemplateError &error) {
        yaml.failIn(path, text, error.offset(), std::string(error.what()) + " (raw: true sends the file as written)");
    }
}

void readConfirm(YamlFields &yaml, Command &command, const YAML::Node &node)
{
    if (!node.IsMap() || !node["question"])
        yaml.fail(node, "confirm: is a map with a question:, and default:, cancel: and when: if need be");
    yaml.checkKeys(node, {"question", "default", "cancel", "when"}, "confirm");
    Confirm confirm;
    confirm.question = yaml.compile(node["question"], {.line = true, .own = command.variables}, "question");
    if (const YAML::Node reply = node["default"])
        confirm.defaultReply = yaml.text(reply, "default");
    if (const YAML::Node cancel = node["cancel"]) {
        if (cancel.IsSequence())
            for (const YAML::Node &reply : cancel)
                confirm.cancel.push_back(yaml.text(reply, "a reply"));
        else
            confirm.cancel.push_back(yaml.text(cancel, "cancel"));
    }
    if (const YAML::Node when = node["when"]) {
        const std::string text = yaml.text(when, "when");
        if (text != "always" && text != "uncommitted")
            yaml.fail(when, "when: is always or uncommitted (asked only while the candidate differs)");
        confirm.whenUncommitted = text == "uncommitted";
    }
    command.confirm = std::move(confirm);
}

void readAnswerKeys(YamlFields &yaml, ReadContext &context, Command &command, const YAML::Node &key,
                    const YAML::Node &map)
{
    yaml.checkKeys(map, {"answer", "file", "answers", "cycle", "raw", "mode", "password", "close", "save", "paging",
                         "section", "missing", "delay", "confirm", "run-in", "commit", "discard", "session", "fault",
                         "cut", "stall", "rate", "prompt", "running-section", "config"},
                   "command '" + command.text + "'");
    const TemplateScope answerScope{.configs = true, .line = true, .own = command.variables};
    const TemplateScope valueScope{.own = command.variables};

    if (const YAML::Node raw = map["raw"])
        command.raw = yaml.flag(raw, "raw");
    if (int(bool(map["answer"])) + int(bool(map["file"])) + int(bool(map["answers"])) > 1)
        yaml.fail(key, "a command answers with one of answer:, file: and answers:");
    if (const YAML::Node answer = map["answer"])
        command.answer = command.raw ? Template::literal(yaml.text(answer, "answer"))
                                     : yaml.compile(answer, answerScope, "answer");
    if (const YAML::Node answers = map["answers"]) {
        if (!answers.IsSequence() || answers.size() == 0)
            yaml.fail(answers, "answers: is a list of texts, one at least");
        for (const YAML::Node &answer : answers)
            command.answers.push_back(command.raw ? Template::literal(yaml.text(answer, "an answer"))
                                                  : yaml.compile(answer, answerScope, "an answer"));
        command.answersSlot = context.model.answersSlots++;
    }
    if (const YAML::Node file = map["file"])
        readFileKey(yaml, context, command, file, answerScope);
    if (const YAML::Node cycle = map["cycle"])
        command.cycle = yaml.flag(cycle, "cycle");
    if (const YAML::Node mode = map["mode"])
        command.mode = modeNamed(yaml, context.model, mode);
    if (const YAML::Node password = map["password"]) {
        command.password = yaml.text(password, "password");
        command.anyPassword = *command.password == "any";
    }
    if (const YAML::Node confirm = map["confirm"])
        readConfirm(yaml, command, confirm);
    if (const YAML::Node runIn = map["run-in"]) {
        if (command.words.empty() || command.words.back().kind != Word::Kind::Rest)
            yaml.fail(runIn, "run-in: runs the text of a last {name...} variable: the command needs one");
        command.runIn = modeNamed(yaml, context.model, runIn);
    }
    if (const YAML::Node close = map["close"])
        command.close = yaml.flag(close, "close");
    if (const YAML::Node config = map["config"])
        command.config = yaml.flag(config, "config");
    if (const YAML::Node save = map["save"])
        command.save = yaml.flag(save, "save");
    if (const YAML::Node commit = map["commit"])
        command.commit = yaml.flag(commit, "commit");
    if (const YAML::Node discard = map["discard"])
        command.discard = yaml.flag(discard, "discard");
    yaml.compileKey(map, "session", valueScope, command.session);
    yaml.compileKey(map, "paging", valueScope, command.paging);
    yaml.compileKey(map, "section", valueScope, command.section);
    // `show running-config interface {name}`: the running config narrowed to
    // one section, answered as {running-config} unless told otherwise; a
    // section that is not there is an invalid line, as an unknown interface is.
    yaml.compileKey(map, "running-section", valueScope, command.runningSection);
    if (command.runningSection) {
        if (map["file"] || map["answers"])
            yaml.fail(key, "running-section: narrows the configurations of answer:, not of file: or answers:");
        if (!command.answer)
            command.answer = Template::compile("{running-config}", answerScope);
        if (!map["missing"])
            command.missing = Missing::Invalid;
    }
    if (const YAML::Node missing = map["missing"]) {
        if (yaml.text(missing, "missing") == "invalid") {
            command.missing = Missing::Invalid;
        } else {
            command.missing = Missing::Text;
            command.missingText = yaml.compile(missing, answerScope, "missing");
        }
    }
    if (const YAML::Node delay = map["delay"])
        command.delay = yaml.number(delay, "delay");
    readAnswerFaults(yaml, command, map);
}

} // namespace

int modeNamed(YamlFields &yaml, const Model &model, const YAML::Node &node)
{
    const std::string name = yaml.text(node, "a mode");
    for (std::size_t i = 0; i < model.modes.size(); ++i)
        if (model.modes[i].name == name)
            return int(i);
    yaml.fail(node, "unknown mode '" + name + "'");
}

Command readCommand(YamlFields &yaml, ReadContext &context, const YAML::Node &key, const YAML::Node &value)
{
    Command command;
    command.text = yaml.text(key, "a command");
    command.line = std::size_t(key.Mark().line) + 1;
    command.column = std::size_t(key.Mark().column) + 1;
    if (command.text.starts_with('~'))
        readPattern(yaml, command, key);
    else
        readWords(yaml, command, key);
    for (const std::string &name : command.variables)
        if (isRouterVariable(name))
            yaml.fail(key, "the variable {" + name + "} is the router's own: choose another name");

    // `show clock: "text"` is short for `show clock: {answer: "text"}`; no value answers nothing.
    if (value.IsScalar())
        command.answer = yaml.compile(value, {.configs = true, .line = true, .own = command.variables}, "answer");
    else if (value.IsMap())
        readAnswerKeys(yaml, context, command, key, value);
    else if (!value.IsNull())
        yaml.fail(value, "a command takes a map of keys such as answer:, or the answer's text");
    return command;
}

} // namespace zentrel::console::commands
