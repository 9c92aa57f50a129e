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

} // namespace

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
        const std::size_t brace = text.find('{', i);
        if (brace == std::string_view::npos) {
            literal.append(text.substr(i));
            break;
        }
        literal.append(text.substr(i, brace - i));
        if (brace + 1 < text.size() && text[brace + 1] == '{') {
            literal.push_back('{');
            i = brace + 2;
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
        if (name == "hostname") {
            piece.variable = Variable::Hostname;
        } else if (name == "running-config" && scope.configs) {
            piece.variable = Variable::RunningConfig;
        } else if (name == "startup-config" && scope.configs) {
            piece.variable = Variable::StartupConfig;
        } else if (name == "line" && scope.line) {
            piece.variable = Variable::Line;
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
        case Variable::RunningConfig:
            if (values.router)
                out.append(values.router->showRunning());
            break;
        case Variable::StartupConfig:
            if (values.router)
                out.append(values.router->startupConfig());
            break;
        case Variable::Line:
            out.append(values.line);
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
