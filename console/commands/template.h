// template.h: the texts of commands.yaml with variables in braces, compiled once and filled at each answer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console::commands {

class Configuration;
class RouterState;

// The variables a text may name. A command's own variables ({name} in its
// words, named groups of its pattern) come after the router's.
enum class Variable : std::uint8_t {
    Hostname,        // {hostname}
    User,            // {user}: the user name the session logged in with
    Session,         // {session}: the name of the session's candidate (`session:`)
    RunningConfig,   // {running-config}, as `show running-config` prints it
    StartupConfig,   // {startup-config}
    Config,          // {config}: the running config alone, with no header
    Candidate,       // {candidate}: the session's candidate, else the running config
    Compare,         // {compare}: what the candidate would change; empty when nothing
    Line,            // {line}: the typed line, blanks around it left out
    Reply,           // {reply}: the answer to the command's question (`confirm:`)
    Word,            // {word}: in an error, the word the error is about
    Position,        // {position}: in an error, how many words come before that word
    Count,           // {count}: in a count filter's text, the lines counted
    Own,             // one of the command's own, by index
};

// Which variables a text may name where it stands: a prompt knows no typed
// line, a file's path no configuration. {hostname}, {user} and {session}
// are known everywhere.
struct TemplateScope {
    bool configs = false;                       // {running-config}, {startup-config}, {config}, {candidate}, {compare}
    bool line = false;                          // {line}, {reply}
    bool error = false;                         // {word}, {position}
    bool count = false;                         // {count}
    std::span<const std::string> own = {};      // the command's variables
};

// A `{` that opens no known variable, with where in the text it stands.
class TemplateError : public std::runtime_error
{
public:
    TemplateError(const std::string &what, std::size_t offset) : std::runtime_error(what), m_offset(offset) {}
    std::size_t offset() const { return m_offset; }

private:
    std::size_t m_offset;
};

// What a text is filled with. `router` may be null where the scope has no
// configs; `own` holds the command's values in the order of its variables.
struct TemplateValues {
    std::string_view hostname;
    std::string_view user;
    std::string_view session;
    const RouterState *router = nullptr;
    const Configuration *candidate = nullptr;   // null: no candidate, {candidate} is the running config
    bool setLines = false;                      // `| display set`: configurations as set lines
    std::string_view section;                   // `running-section:`: the configurations show this section alone
    std::string_view line;
    std::string_view reply;
    std::string_view word;
    std::size_t position = 0;
    std::size_t count = 0;
    std::span<const std::string_view> own = {};
};

class Template
{
public:
    Template() = default;
    // `{name}` stands for a variable of the scope, `{{` for one `{` and
    // `}}` for one `}`; a `}` on its own is a brace too. Throws
    // TemplateError for a name the scope does not know and for a `{` that
    // opens no name.
    static Template compile(std::string_view text, const TemplateScope &scope);
    // A text taken as written: no variable, `{` is a brace.
    static Template literal(std::string_view text);

    bool empty() const { return m_pieces.empty(); }
    bool uses(Variable variable) const;
    // Indexes of the command's own variables the text names.
    std::vector<std::size_t> ownUsed() const;

    std::string render(const TemplateValues &values) const;
    void renderTo(std::string &out, const TemplateValues &values) const;

private:
    struct Piece {
        Variable variable = Variable::Own;
        bool literal = true;
        std::string text;        // the literal bytes
        std::size_t own = 0;     // for Variable::Own
    };
    std::vector<Piece> m_pieces;
};

// Letters, digits, `_` and `-`, one at least: what may stand between braces.
bool isVariableName(std::string_view name);
// A name the router gives a value of its own in a command's answer
// ({hostname}, {line}, ...): a command's variable may not take it.
bool isRouterVariable(std::string_view name);

// Text as a router's terminal sends it: each LF not already after a CR
// becomes CR LF; a lone CR and an existing CR LF stay as they are.
void appendCrLf(std::string &out, std::string_view text);
std::string crLf(std::string_view text);

} // namespace zentrel::console::commands
