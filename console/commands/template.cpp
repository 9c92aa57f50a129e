// template.cpp: compiling and filling texts with variables in braces.
#include "console/commands/template.h"

#include "console/commands/router_state.h"

#include <algorithm>

namespace zentrel::console::commands {

namespace {

bool nameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

struct Known {
    std::string_view name;
    Variable variable;
    bool TemplateScope::*needs;   // null: known everywhere
};
constexpr Known KnownVariables[] = {
    {"hostname", Variable::Hostname, nullptr},
    {"user", Variable::User, nullptr},
    {"session", Variable::Session, nullptr},
    {"running-config", Variable::RunningConfig, &TemplateScope::configs},
    {"startup-config", Variable::StartupConfig, &TemplateScope::configs},
    {"config", Variable::Config, &TemplateScope::configs},
    {"candidate", Variable::Candidate, &TemplateScope::configs},
    {"compare", Variable::Compare, &TemplateScope::configs},
    {"line", Variable::Line, &TemplateScope::line},
    {"reply", Variable::Reply, &TemplateScope::line},
    {"word", Variable::Word, &TemplateScope::error},
    {"position", Variable::Position, &TemplateScope::error},
    {"count", Variable::Count, &TemplateScope::count},
};

const Configuration *configOf(const TemplateValues &values, Variable variable)
{
    if (!values.router)
        return nullptr;
    if (variable == Variable::Candidate && values.candidate)
        return values.candidate;
    return &values.router->running();
}

} // namespace

bool isRouterVariable(std::string_view name)
{
    // {word}, {position} and {count} live only in texts that have no command.
    return std::any_of(std::begin(KnownVariables), std::end(KnownVariables), [&](const Known &known) {
        return known.name == name && known.needs != &TemplateScope::error && known.needs != &TemplateScope::count;
    });
}

bool isVariableName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), nameCharacter);
}

Template Template::literal(std::string_view text)
{
    Template result;
    if (!text.empty())
        result.m_pieces.push_back(Piece{.text = std::string(text)});
    return result;
}

Template Template::compile(std::string_view text, const TemplateScope &scope)
{
    Template result;
    std::string literal;
    auto flush = [&] {
        if (!literal.empty())
            result.m_pieces.push_back(Piece{.text = std::move(literal)});
        literal.clear();
    };

    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t brace = text.find_first_of("{}", i);
        if (brace == std::string_view::npos) {
            literal.append(text.substr(i));
            break;
        }
        literal.append(text.substr(i, brace - i));
        if (brace + 1 < text.size() && text[brace + 1] == text[brace]) {
            literal.push_back(text[brace]);   // {{ or }}
            i = brace + 2;
            continue;
        }
        if (text[brace] == '}') {
            literal.push_back('}');
            i = brace + 1;
            continue;
        }
        std::size_t end = brace + 1;
        while (end < text.size() && nameCharacter(text[end]))
            ++end;
        if (end == brace + 1 || end >= text.size() || text[end] != '}')
            throw TemplateError("a '{' that opens no variable (write {{ for a brace)", brace);
        const std::string_view name = text.substr(brace + 1, end - brace - 1);

        Piece piece;
        piece.literal = false;
        const auto known = std::find_if(std::begin(KnownVariables), std::end(KnownVariables),
                                        [&](const Known &k) { return k.name == name && (!k.needs || scope.*k.needs); });
        if (known != std::end(KnownVariables)) {
            piece.variable = known->variable;
        } else {
            const auto own = std::find(scope.own.begin(), scope.own.end(), name);
            if (own == scope.own.end())
                throw TemplateError("unknown variable {" + std::string(name) + "}", brace);
            piece.variable = Variable::Own;
            piece.own = std::size_t(own - scope.own.begin());
        }
        flush();
        result.m_pieces.push_back(std::move(piece));
        i = end + 1;
    }
    flush();
    return result;
}

bool Template::uses(Variable variable) const
{
    return std::any_of(m_pieces.begin(), m_pieces.end(),
                       [&](const Piece &piece) { return !piece.literal && piece.variable == variable; });
}

std::vector<std::size_t> Template::ownUsed() const
{
    std::vector<std::size_t> used;
    for (const Piece &piece : m_pieces)
        if (!piece.literal && piece.variable == Variable::Own)
            used.push_back(piece.own);
    return used;
}

void Template::renderTo(std::string &out, const TemplateValues &values) const
{
    for (const Piece &piece : m_pieces) {
        if (piece.literal) {
            out.append(piece.text);
            continue;
        }
        switch (piece.variable) {
        case Variable::Hostname:
            out.append(values.hostname);
            break;
        case Variable::User:
            out.append(values.user);
            break;
        case Variable::Session:
            out.append(values.session);
            break;
        case Variable::RunningConfig:
            if (values.router && !values.section.empty())
                out.append(values.router->showRunningSection(values.section).value_or(std::string()));
            else if (values.router)
                out.append(values.setLines ? values.router->running().setLines() : values.router->showRunning());
            break;
        case Variable::StartupConfig:
            if (values.router)
                out.append(values.router->startupConfig());
            break;
        case Variable::Config:
        case Variable::Candidate:
            if (const Configuration *config = configOf(values, piece.variable); config && !values.section.empty())
                out.append(config->section(values.section).value_or(std::string()));
            else if (config)
                out.append(values.setLines ? config->setLines() : config->text());
            break;
        case Variable::Compare:
            if (values.router && values.candidate)
                out.append(values.router->running().compare(*values.candidate, values.session));
            break;
        case Variable::Line:
            out.append(values.line);
            break;
        case Variable::Reply:
            out.append(values.reply);
            break;
        case Variable::Word:
            out.append(values.word);
            break;
        case Variable::Position:
            out.append(std::to_string(values.position));
            break;
        case Variable::Count:
            out.append(std::to_string(values.count));
            break;
        case Variable::Own:
            if (piece.own < values.own.size())
                out.append(values.own[piece.own]);
            break;
        }
    }
}

std::string Template::render(const TemplateValues &values) const
{
    std::string out;
    renderTo(out, values);
    return out;
}

void appendCrLf(std::string &out, std::string_view text)
{
    out.reserve(out.size() + text.size() + text.size() / 32);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            out.append(text.substr(start));
            break;
        }
        out.append(text.substr(start, lf - start));
        const bool afterCr = lf > 0 && text[lf - 1] == '\r';
        out.append(afterCr ? "\n" : "\r\n");
        start = lf + 1;
    }
}

std::string crLf(std::string_view text)
{
    std::string out;
    appendCrLf(out, text);
    return out;
}

} // namespace zentrel::console::commands
