// loader_parts.h: the pieces of the reading of commands.yaml, each of them in the file of its subject.
#pragma once
#include "console/commands/model.h"
#include "console/commands/yaml_fields.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace zentrel::console::commands {

// What a piece of the reading may look up: the model as read so far (the
// names of all modes are known before any command is read) and the files.
struct ReadContext {
    Model &model;
    platform::TextFiles &files;

    std::string pathOf(std::string_view relative) const
    {
        return (std::filesystem::path(model.dir) / relative).string();
    }
};

// Texts that know only {hostname}, {user} and {session}; the error texts
// that also know {line}, {word} and {position}.
inline const TemplateScope FixedScope{};
inline const TemplateScope ErrorScope{.line = true, .error = true};

// The index of the mode a scalar names; a problem when there is none.
int modeNamed(YamlFields &yaml, const Model &model, const YAML::Node &node);

// One entry of a mode's commands: the command's words or pattern as the
// key, its answer and effects as the value.
Command readCommand(YamlFields &yaml, ReadContext &context, const YAML::Node &key, const YAML::Node &value);

// fault_keys.cpp: a command's fault:, cut:, stall:, rate: and prompt:, from its map.
void readAnswerFaults(YamlFields &yaml, Command &command, const YAML::Node &map);
// The router's faults: and messages: lists, into its schedule.
void readFaultList(YamlFields &yaml, Schedule &schedule, const YAML::Node &node);
void readMessages(YamlFields &yaml, Schedule &schedule, const YAML::Node &node);

// The keys that hold for the whole router; each leaves the model as it is
// when its key is absent.
void readLogin(YamlFields &yaml, Model &model, const YAML::Node &node);
void readErrors(YamlFields &yaml, Model &model, const YAML::Node &node);
void readPaging(YamlFields &yaml, Model &model, const YAML::Node &node);
// config-style: and indent:, with the unique keys and indentation of the style.
void readStyle(YamlFields &yaml, Model &model, const YAML::Node &style, const YAML::Node &indent);
void readUnique(YamlFields &yaml, Model &model, const YAML::Node &node);
void readFilters(YamlFields &yaml, Model &model, const YAML::Node &node);
void readInterfaceTypes(YamlFields &yaml, Model &model, const YAML::Node &node);
// The warnings of keys that ask for a candidate where there is none.
void checkCandidates(YamlFields &yaml, const Model &model);
// The initial running config: the file running-config: names, else
// ROUTER.CFG when there is one.
void readConfig(YamlFields &yaml, ReadContext &context, const YAML::Node &node);

} // namespace zentrel::console::commands
