// conversation_lookup.cpp: from a typed line to the command that answers it: run-in lines, filters, interface names.
#include "console/commands/conversation.h"

namespace zentrel::console::commands {

Conversation::Resolved Conversation::resolve(std::string_view typed) const
{
    Resolved resolved{.mode = m_mode, .part = typed};
    find(resolved, typed);
    const Command *command = resolved.match.command;
    if (!command || command->runIn < 0) {
        takeNamesInFull(resolved);
        return resolved;
    }
    // `do LINE`: the line as the other mode would answer it, the session staying where it is.
    const std::string_view line = resolved.match.values.back().text;
    Resolved inner{.mode = command->runIn, .part = line, .nested = true};
    find(inner, typed);
    if (inner.match.command && inner.match.command->runIn >= 0)
        inner.match = Match{.error = MatchError::Invalid, .offset = std::size_t(line.data() - typed.data())};
    takeNamesInFull(inner);
    return inner;
}

// `{name:interface}`: `gi0/1` is GigabitEthernet0/1 to the command, as a
// router takes it; a type the router lacks is the invalid error under the
// name, a type with no number the incomplete one.
void Conversation::takeNamesInFull(Resolved &resolved) const
{
    const Command *command = resolved.match.command;
    if (!command || command->interfaces.empty())
        return;
    resolved.names.resize(command->variables.size());
    for (std::size_t own : command->interfaces) {
        const MatchedValue &value = resolved.match.values[own];
        const InterfaceName found = fullInterfaceName(value.text, m_model->interfaceTypes, resolved.names[own]);
        if (found == InterfaceName::Full)
            continue;
        resolved.match = Match{.error = found == InterfaceName::NoNumber ? MatchError::Incomplete : MatchError::Invalid,
                               .offset = value.offset};
        resolved.badName = true;
        return;
    }
}

std::vector<std::string_view> Conversation::ownValues(const Resolved &resolved) const
{
    std::vector<std::string_view> own;
    own.reserve(resolved.match.values.size());
    for (std::size_t i = 0; i < resolved.match.values.size(); ++i)
        own.push_back(i < resolved.names.size() && !resolved.names[i].empty() ? std::string_view(resolved.names[i])
                                                                              : resolved.match.values[i].text);
    return own;
}

void Conversation::find(Resolved &resolved, std::string_view typed) const
{
    const CommandIndex &index = m_model->modes[std::size_t(resolved.mode)].index;
    const std::string_view part = resolved.part;
    resolved.match = index.match(part);
    const std::size_t bar = resolved.match.command || m_model->filters.empty()
        ? std::string_view::npos
        : FilterChain::split(part, m_model->filters);
    if (bar != std::string_view::npos && !trimmedLine(part.substr(0, bar)).empty()) {
        Match head = index.match(part.substr(0, bar));
        if (head.command) {
            Match failed;
            resolved.match = resolved.filters.parse(part, bar, m_model->filters, failed) ? std::move(head)
                                                                                          : std::move(failed);
        }
    }
    // Offsets in the typed line, not in the part.
    const std::size_t start = std::size_t(part.data() - typed.data());
    resolved.match.offset += start;
    for (MatchedValue &value : resolved.match.values)
        value.offset += start;
}

} // namespace zentrel::console::commands
