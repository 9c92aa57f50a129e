// fault_keys.cpp: the keys of commands.yaml that make a router misbehave on purpose: a command's faults, the router's faults on a count or a clock, its messages, its jitter.
#include "console/commands/loader_parts.h"

#include <cmath>
#include <limits>
#include <memory>

namespace zentrel::console::commands {

namespace {

// Messages come at most this often: a timer per session never spins.
constexpr double ShortestEvery = 0.01;

AnswerFaults::End faultNamed(YamlFields &yaml, const YAML::Node &node)
{
    const std::string name = yaml.text(node, "fault");
    if (name == "close")
        return AnswerFaults::End::Close;
    if (name == "reset")
        return AnswerFaults::End::Reset;
    yaml.fail(node, "fault: is close (the session ends with a FIN) or reset (with an RST): '" + name + "'");
}

std::size_t wholeNumber(YamlFields &yaml, const YAML::Node &node, std::string_view what)
{
    const double value = yaml.number(node, what);
    if (value != std::floor(value) || value > double(std::numeric_limits<std::uint32_t>::max()))
        yaml.fail(node, std::string(what) + " must be a whole number: '" + node.Scalar() + "'");
    return std::size_t(value);
}

// A list of up to MaxScheduled maps, each with the keys it needs.
void checkList(YamlFields &yaml, const YAML::Node &node, const char *key, const std::string &entry)
{
    if (!node.IsSequence() || node.size() > MaxScheduled)
        yaml.fail(node, std::string(key) + ": is a list of up to " + std::to_string(MaxScheduled) + " maps " + entry);
    for (const YAML::Node &item : node)
        if (!item.IsMap())
            yaml.fail(item, std::string("an entry of ") + key + ": is " + entry);
}

} // namespace

void readAnswerFaults(YamlFields &yaml, Command &command, const YAML::Node &map)
{
    AnswerFaults faults;
    bool any = false;
    if (const YAML::Node fault = map["fault"]) {
        faults.end = faultNamed(yaml, fault);
        any = true;
    }
    if (const YAML::Node cut = map["cut"]) {
        faults.cut = wholeNumber(yaml, cut, "cut");
        any = true;
    }
    if (const YAML::Node stall = map["stall"]) {
        faults.stall = yaml.number(stall, "stall");
        any = any || faults.stall > 0;
    }
    if (const YAML::Node rate = map["rate"]) {
        faults.rate = yaml.number(rate, "rate");
        if (faults.rate == 0)
            yaml.fail(rate, "rate: is bytes a second, more than 0");
        any = true;
    }
    if (any)
        command.faults = faults;
    if (const YAML::Node prompt = map["prompt"])
        command.otherPrompt = yaml.compile(prompt, {}, "prompt");
}

void readFaultList(YamlFields &yaml, Schedule &schedule, const YAML::Node &node)
{
    if (!node)
        return;
    const std::string entry = "{after: N, fault: close|reset} or {at: SECONDS, fault: close|reset}";
    checkList(yaml, node, "faults", entry);
    for (const YAML::Node &item : node) {
        if (!item["fault"] || bool(item["after"]) == bool(item["at"]))
            yaml.fail(item, "an entry of faults: is " + entry);
        yaml.checkKeys(item, {"after", "at", "fault"}, "a fault");
        Schedule::Fault fault;
        fault.end = faultNamed(yaml, item["fault"]);
        if (const YAML::Node after = item["after"]) {
            fault.after = wholeNumber(yaml, after, "after");
            if (*fault.after == 0)
                yaml.fail(after, "after: counts commands from 1");
        } else {
            fault.at = yaml.number(item["at"], "at");
        }
        schedule.faults.push_back(fault);
    }
}

void readMessages(YamlFields &yaml, Schedule &schedule, const YAML::Node &node)
{
    if (!node)
        return;
    const std::string entry = "{every: SECONDS, text: \"...\"}";
    checkList(yaml, node, "messages", entry);
    for (const YAML::Node &item : node) {
        if (!item["every"] || !item["text"])
            yaml.fail(item, "an entry of messages: is " + entry);
        yaml.checkKeys(item, {"every", "text"}, "a message");
        Schedule::Message message;
        message.every = yaml.number(item["every"], "every");
        if (message.every < ShortestEvery)
            yaml.fail(item["every"], "every: is 0.01 seconds or more");
        message.text = crLf(yaml.text(item["text"], "text"));
        if (message.text.empty())
            yaml.fail(item["text"], "a message needs a text");
        schedule.messages.push_back(std::move(message));
    }
}

} // namespace zentrel::console::commands
