// model.h: a command-driven router as its commands.yaml describes it, read once and shared by its sessions.
#pragma once
#include "console/commands/command_index.h"
#include "console/commands/configuration.h"
#include "console/commands/filters.h"
#include "console/commands/template.h"
#include "console/faults.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace re2 {
class RE2;
}
namespace zentrel::platform {
class TextFiles;
}

namespace zentrel::console::commands {

// Beyond modes, prompts, commands and their answers, commands.yaml says how
// the platform keeps and shows its configuration, and how it words things:
//
//   config-style: junos          # ios (default): lines and indented sections;
//                                # junos: statements in braces, typed as set/delete
//   indent: 3                    # blanks a level (default: ios 1, junos 4)
//   filters: [include, exclude, begin, section, count]       # what may follow `|`
//   filters: {match: include, count: {kind: count, answer: "Count: {count} lines\n"},
//             display set: display-set, no-more: no-more}    # the platform's own words
//   errors: {caret: false, unknown: "unknown command.\n",   # unknown: a bad first word
//            invalid: "% Invalid input (at token {position}: '{word}')\n"}
//   modes:
//     configuration:
//       candidate: shared        # or session: config lines go to a candidate
//       commands:
//         commit: {commit: true}               # the candidate becomes the running config
//         rollback 0: {discard: true}          # the candidate is dropped
//         show | compare: "{compare}"          # Junos form, or a unified diff (ios style)
//         run {command...}: {run-in: operational}   # a line as that mode answers it
//         exit:
//           mode: operational
//           confirm: {question: "Exit? [yes,no] (yes) ", default: "yes", cancel: [no],
//                     when: uncommitted}       # the next line replies; Enter: the default
//     enable:
//       commands:
//         configure session {name}: {mode: config-s, session: "{name}"}   # names the candidate
//   ... enable: {mode: enable, password: any}  # asks, and takes any password
//
// Faults on purpose, on a command and for the whole router:
//
//   modes: {exec: {commands: {
//     show tech: {file: tech.txt, cut: 2000}          # the session ends after 2000 bytes of the answer
//     show log: {answer: "...", stall: 20}            # the answer stops for 20 s halfway, then goes on
//     show run: {file: run.txt, rate: 960}            # 960 bytes a second (9600 baud)
//     show users: {answer: "...", fault: reset}       # an RST after the answer (close: a FIN)
//     terminal length 0: {answer: "", prompt: "R1(config)#"}   # ends with that prompt, the first time
//   }}}
//   faults: [{after: 3, fault: close}, {at: 30, fault: reset}]   # after the 3rd command; 30 s in
//   messages: [{every: 7.5, text: "\n%LINK-3-UPDOWN: Interface Gi0/2, changed state to down\n"}]
//   jitter: 0.2                  # each pause varies by up to 0.2 s either way, from --seed
//   on-mismatch: close           # a line EXPECT.TXT forbids ends the session after its answer
//
// Variables everywhere: {hostname}, {user}, {session}; in answers also
// {config} (no header), {candidate}, {compare}, {reply}; in errors {word}
// and {position} (the words before it); in a mode's prompt, the variables of
// the commands that enter it. Answer files are filled as answers are.
inline constexpr const char *CommandsFile = "commands.yaml";
inline constexpr const char *DefaultConfigFile = "ROUTER.CFG";

// commands.yaml that cannot be used: what() reads "FILE:LINE:COLUMN: error:
// text" (line and column from 1), or "FILE: error: text" when no place in
// the file is to blame (it cannot be read): a line for the program to print
// before it exits with status 2.
class ModelError : public std::runtime_error
{
public:
    ModelError(std::string file, std::size_t line, std::size_t column, const std::string &text);
    const std::string &file() const { return m_file; }
    std::size_t line() const { return m_line; }       // 0: the file as a whole
    std::size_t column() const { return m_column; }

private:
    std::string m_file;
    std::size_t m_line;
    std::size_t m_column;
};

// Something --lint reports. An error would stop the router from loading; a
// warning is a key that does nothing, or a command no line can reach.
struct Finding {
    std::string file;
    std::size_t line = 0;     // from 1; 0: the file as a whole
    std::size_t column = 0;
    std::string text;
    bool error = false;
    std::string toString() const;   // "FILE:LINE:COLUMN: error: text"
};

struct Word {
    enum class Kind { Fixed, One, Rest };   // `word`, `{name}`, `{name...}`
    Kind kind = Kind::Fixed;
    std::string text;                       // the fixed word, or the variable's name
    bool interface = false;                 // `{name:interface}`: an interface name, taken in full
};

// What an answer does when its file cannot be read.
enum class Missing {
    Warn,      // answer nothing, and tell the program (Reply::warning)
    Invalid,   // `missing: invalid`: the invalid error, caret under the variable's word
    Text,      // `missing: "text"`: that text instead
};

// `confirm:`: a question the command asks before it acts; the next line
// typed is the reply, a bare Enter the default.
struct Confirm {
    Template question;
    std::string defaultReply;
    std::vector<std::string> cancel;   // replies (any case) that leave the command undone
    bool whenUncommitted = false;      // `when: uncommitted`: asked only while the candidate differs
};

// Where a configuration mode's lines go (`candidate:`).
enum class CandidateKind {
    None,      // to the running config
    Shared,    // to the candidate all sessions share, until `commit` or `discard`
    Session,   // to the session's own candidate, named by `session:` on the command that opens it
};

struct Command {
    std::string text;                    // as written: the key in commands.yaml
    std::size_t line = 0;                // of the key, from 1
    std::size_t column = 0;
    std::vector<Word> words;             // empty for a pattern
    std::shared_ptr<const re2::RE2> pattern;   // `~regex`, without the `~`
    std::vector<int> groups;             // the pattern's group of each variable
    std::vector<std::string> variables;  // its own, in order; templates refer to them by index
    std::vector<std::size_t> interfaces; // those written {name:interface}

    std::optional<Template> answer;
    std::optional<Template> file;        // a path in the router's directory
    std::vector<Template> answers;       // walked line by line per session
    bool cycle = false;
    bool raw = false;                    // sent as written: no variables, no CR LF
    int mode = -1;                       // the mode to enter; -1: stay
    std::optional<std::string> password; // asked for before anything else happens
    bool anyPassword = false;            // `password: any`: asked for, and any is taken
    std::optional<Confirm> confirm;      // asked after the password
    int runIn = -1;                      // `run-in:`: the last variable's text is a line of that mode
    bool close = false;
    // `config: true`: the line goes into the running config (or the candidate)
    // with its fixed words in full, as a router keeps `desc x` as `description x`.
    bool config = false;
    bool save = false;
    bool commit = false;                 // the candidate becomes the running config
    bool discard = false;                // the candidate is dropped
    std::optional<Template> session;     // the name of the session candidate the command opens
    std::optional<Template> paging;      // renders to the session's page length
    std::optional<Template> section;     // config lines typed next go under it
    std::optional<Template> runningSection; // the configurations of the answer show this section alone
    Missing missing = Missing::Warn;
    Template missingText;
    std::optional<double> delay;
    std::size_t answersSlot = 0;         // with `answers`: the session's position in the list
    std::optional<AnswerFaults> faults;  // fault:, cut:, stall:, rate:
    std::optional<Template> otherPrompt; // `prompt:`: the answer ends with it, the first time in a session
};

struct Mode {
    std::string name;
    std::size_t line = 0;
    Template prompt;
    // Variables of the commands that enter the mode, as the prompt names
    // them (`edit {path...}` entering a mode whose prompt shows {path}).
    std::vector<std::string> promptNames;
    int parent = -1;
    bool config = false;   // lines no command matches go into the running config (or the candidate)
    CandidateKind candidate = CandidateKind::None;
    // The line Ctrl-Z runs, after the line it ends (`ctrl-z:`, else the
    // nearest parent's); empty: Ctrl-Z is a byte like any other.
    std::string ctrlZ;
    std::vector<Command> commands;
    CommandIndex index;    // these commands, then the parents'
};

struct Login {
    Template banner;
    std::optional<Template> username;   // none: only a password is asked
    Template password;
    std::optional<std::map<std::string, std::string>> users;   // none: anyone gets in
    Template failed;
    static constexpr int Attempts = 3;
};

// Immutable once loaded and shared by every session of every copy of the
// router; what changes lives in RouterState and Conversation.
struct Model {
    Model() = default;
    Model(const Model &) = delete;              // indexes point into the modes
    Model &operator=(const Model &) = delete;

    std::string dir;
    std::string file;                           // DIR/commands.yaml, for messages
    std::optional<std::string> hostname;
    std::optional<Login> login;
    Template motd;
    int start = 0;
    std::vector<Mode> modes;
    Template invalid;
    std::optional<Template> unknown;            // invalid at a line's first word; none: `invalid`
    Template ambiguous;
    Template incomplete;
    bool caret = true;                          // a caret line under the word before `invalid`
    bool help = false;                          // help: true: `?` lists what may come next
    std::vector<Filter> filters;
    std::size_t pageLength = 0;                 // 0: no paging
    Template more;
    std::string initialConfig;
    std::optional<double> delay;
    ConfigRules config;                         // config-style:, unique:, indent:
    // interfaces: the interface types a typed name may abbreviate, in the
    // order a prefix of two takes the first (`Gi0/1` is GigabitEthernet0/1).
    std::vector<std::string> interfaceTypes = {"GigabitEthernet", "FastEthernet", "Ethernet", "TenGigabitEthernet",
                                               "Loopback", "Port-channel", "Vlan", "Tunnel", "Serial"};
    std::size_t answersSlots = 0;
    std::shared_ptr<const Schedule> schedule;   // faults: and messages:; null when neither
    std::optional<double> jitter;               // jitter:
    bool mismatchClose = false;                 // on-mismatch: close
    std::vector<Finding> warnings;              // what --lint would also say

    const Mode *findMode(std::string_view name) const;
};

// An interface name as typed, taken in full by the model's interface types:
// its letters (and -) a prefix of a type, any case, then the rest as typed.
enum class InterfaceName { Full, UnknownType, NoNumber };
InterfaceName fullInterfaceName(std::string_view typed, const std::vector<std::string> &types, std::string &full);
using ModelPtr = std::shared_ptr<const Model>;

// Files the model reads are never bigger than these.
inline constexpr std::size_t MaxCommandsFileBytes = 4 << 20;
inline constexpr std::size_t MaxAnswerFileBytes = 1 << 20;
inline constexpr std::size_t MaxCommands = 100000;
// Session candidates one session keeps pending at once (`configure session NAME`).
inline constexpr std::size_t MaxSessionCandidates = 5;
// Entries of faults: and of messages:, each.
inline constexpr std::size_t MaxScheduled = 64;
// A page holds at most this many lines (`paging: {length:}`, `paging: "{n}"`).
inline constexpr std::size_t MaxPageLength = 512;

// DIR/commands.yaml exists (whether or not it can be read).
bool hasCommandsFile(const std::string &dir);

// Reads DIR/commands.yaml and the files it names that hold no variable.
// Throws ModelError on the first thing that keeps the router from working:
// YAML that does not parse, a key of the wrong kind, an unknown mode or
// parent, a file that cannot be read, a pattern RE2 rejects, an unknown
// variable. Unknown keys and shadowed commands land in Model::warnings.
ModelPtr loadModel(const std::string &dir, platform::TextFiles &files);

// Everything loadModel() would stop at, and the warnings, in file order.
std::vector<Finding> lintModel(const std::string &dir, platform::TextFiles &files);

} // namespace zentrel::console::commands
