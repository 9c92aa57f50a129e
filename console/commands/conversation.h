// conversation.h: one session with a command-driven router: the login, the modes, and each line's answer.
#pragma once
#include "console/commands/command_index.h"
#include "console/commands/filters.h"
#include "console/commands/model.h"
#include "console/commands/pager.h"
#include "console/commands/router_state.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::platform {
class TextFiles;
}

namespace zentrel::console::commands {

struct ConversationOptions {
    // SSH logs the client in within the protocol: no login dialog, the
    // conversation opens with the motd and the prompt.
    bool ssh = false;
    // {user}: the user name the client logged in with over SSH. A Telnet
    // login takes the name typed at the login's username prompt.
    std::string user;
    // An SSH exec request: its one command line is answered as a router's
    // SSH server runs it, with no motd, no prompt and no paging, and the
    // session closes after the answer (after the command's question, when
    // it asks one and the client answers).
    bool exec = false;
    // The height of the client's terminal (an SSH pty request): the page
    // length the session starts with, as a router takes its terminal length
    // from the pty; 0 turns paging off. A router whose commands.yaml pages
    // nothing (length 0) keeps not paging.
    std::optional<std::size_t> rows;
};

enum class Ending {
    None,
    Closed,       // a command with `close: true` answered
    AuthFailed,   // the third failed login
};

// What the program reports for one typed command line.
struct CommandRecord {
    std::string mode;                     // the mode it was typed in
    std::string line;                     // as typed; "***" when secret
    std::optional<std::string> matched;   // the command as commands.yaml writes it (for a run-in
                                          // line, the command of the line it runs)
    MatchError error = MatchError::None;  // with matched empty: why
    bool config = false;                  // no command: applied to the running config (or a candidate)
    bool secret = false;                  // a password; `line` is masked
    bool reply = false;                   // the reply to the question of `matched` (confirm:)
};

struct Reply {
    std::string bytes;              // to send as they are: answer and prompt, or a page and the more text
    std::optional<double> delay;    // the pause before the bytes; none: the caller's own (zentrel.ini's Delay)
    Ending end = Ending::None;      // close the session once the bytes are out
    std::optional<CommandRecord> record;
    std::string warning;            // a failure contained (an answer file that cannot be read), for stderr
    const AnswerFaults *faults = nullptr;   // the command's fault:, cut:, stall:, rate:; kept by the model
    bool otherPrompt = false;       // the bytes end with the command's prompt:, not the mode's
    std::string typeIn;             // Tab: what the router completed, to go into the typed line
};

// The router's side of one session, with no transport: the caller feeds
// what the client typed and sends each Reply's bytes after its delay.
//
// The caller's contract:
// - start() once, when the session begins.
// - While wantsKeys(), a long answer is being paged: feed every byte the
//   client types to key() (Space, Enter as CR, LF, CR LF or CR NUL, q),
//   not lines. Otherwise feed each line to line(), without its line end.
//   An Enter that ends the paging as CR may leave its LF to the caller's
//   line editor, which takes it as the second half of the same Enter.
// - When nextLineSecret(), the next line is a password: do not echo it,
//   and mask it wherever it is reported.
// - When ctrlZEndsLine(), Ctrl-Z ends a line as Enter does: feed the line
//   with the Ctrl-Z as its last byte. The line is run, then the mode's
//   `ctrl-z:` command (`end`), in one reply with the line's record; a bare
//   Ctrl-Z is recorded as typed, matched to that command.
// - A command may ask a question (`confirm:`): the next line is its reply,
//   a bare Enter the default; it gets a record of its own, reply set.
// - After a Reply with an ending, feed nothing more.
//
// Login lines and the empty line give no record; every other line gives
// one, a password line with secret set. Output line ends are CR LF except
// in `raw: true` answers; every answer ends with the prompt of the mode
// the session is then in, except one that closes the session.
class Conversation
{
public:
    Conversation(ModelPtr model, std::shared_ptr<RouterState> router, platform::TextFiles &files,
                 ConversationOptions options = {});

    Reply start();
    Reply line(std::string_view typed);
    Reply key(char c);

    bool wantsKeys() const { return m_pager.active(); }
    bool nextLineSecret() const { return m_stage == Stage::Password || m_stage == Stage::CommandPassword; }
    bool asking() const { return m_stage == Stage::Confirm; }
    bool helpKey() const { return m_stage == Stage::Commands && !m_options.exec && m_model->help; }
    // `?` typed after `partial`: what may come next, then the prompt and the
    // partial line again, at once; no record.
    Reply help(std::string_view partial);
    // Tab typed after `partial`: the word it ends completed when one command
    // word fits (typeIn, and its echo), else the prompt and the line again.
    Reply complete(std::string_view partial);
    bool ctrlZEndsLine() const
    {
        return m_stage == Stage::Commands && !m_options.exec && !m_model->modes[std::size_t(m_mode)].ctrlZ.empty();
    }
    bool ended() const { return m_stage == Stage::Ended; }
    const std::string &mode() const { return m_model->modes[std::size_t(m_mode)].name; }

    // For the session's end: command lines typed, and those that were errors.
    std::size_t commands() const { return m_commands; }
    std::size_t errors() const { return m_errors; }
    // This session changed the router's running config.
    bool changedConfig() const { return m_changedConfig; }

    // Lines per page, 0 for no paging: `paging: {length:}` at first,
    // `paging: "{n}"` commands, or the caller (a terminal's size, at most
    // MaxPageLength).
    std::size_t pageLength() const { return m_pageLength; }
    void setPageLength(std::size_t lines) { m_pageLength = std::min(lines, MaxPageLength); }

private:
    enum class Stage { Username, Password, Commands, CommandPassword, Confirm, Ended };
    static constexpr std::string_view ConfigFull = "% The running config is full: the line was not applied\n";

    // A typed line looked up in the commands: the command that answers
    // it, or the error, with offsets in the typed line.
    struct Resolved {
        Match match;
        int mode = 0;               // whose commands answer
        std::string_view part;      // what was matched: the line, or the line a `run-in:` command runs
        bool nested = false;        // through run-in: the session's mode, section and candidate stay
        bool badName = false;       // an interface name of no type: the error, never a config line
        std::vector<std::string> names;   // by variable: the interface name in full; empty: as typed
        FilterChain filters;
    };
    // What the client answered to the questions of a command.
    struct Asked {
        bool password = false;
        std::optional<std::string> reply;
    };
    struct SessionCandidate {
        std::string name;
        std::unique_ptr<Configuration> config;
    };

    Reply loginLine(std::string_view typed);
    Reply commandLine(std::string_view typed);
    Reply ctrlZLine(std::string_view typed);
    Reply commandPassword(std::string_view typed);
    Reply confirmReply(std::string_view typed);

    // conversation_lookup.cpp: from a line to its command.
    Resolved resolve(std::string_view typed) const;
    void find(Resolved &resolved, std::string_view typed) const;
    void takeNamesInFull(Resolved &resolved) const;
    std::vector<std::string_view> ownValues(const Resolved &resolved) const;

    // conversation_run.cpp: a command's questions, effects and answer.
    bool proceed(const Resolved &resolved, std::string_view typed, const Asked &asked, Reply &reply);
    // False when the command's values make it the invalid error (a page
    // length that is no number, a file `missing: invalid`).
    bool run(const Resolved &resolved, std::string_view typed, const std::string &replied, Reply &reply);
    bool answerMissing(const Command &command, const Template &named, const Match &match, std::string_view typed,
                       const TemplateValues &values, const std::string &why, std::string &answer, Reply &reply);
    bool answerOf(const Command &command, const Match &match, std::string_view typed, const TemplateValues &values,
                  std::string &answer, Reply &reply);

    // conversation_config.cpp: modes, sections, config lines and candidates.
    void enterMode(const Command &command, const TemplateValues &values);
    bool applyConfig(std::string_view line, Reply &reply);
    ConfigChange store(std::string_view line);
    void leaveFor(const Command &command);
    void commitCandidate();
    void discardCandidate();
    CandidateKind candidateKind() const { return m_model->modes[std::size_t(m_mode)].candidate; }
    Configuration &candidate();
    const Configuration *candidateIfAny() const;
    bool uncommitted() const;
    std::string_view sessionName() const;

    void error(MatchError error, std::size_t offset, std::string_view typed, std::size_t firstWord, Reply &reply);
    void deliver(std::string answer, bool close, bool paged, Reply &reply);
    void finish(bool close, Reply &reply);
    std::string welcome() const;
    std::string prompt() const;
    std::string fixedText(const Template &text) const;

    ModelPtr m_model;
    std::shared_ptr<RouterState> m_router;
    platform::TextFiles &m_files;
    ConversationOptions m_options;
    Stage m_stage = Stage::Commands;
    int m_mode = 0;
    std::string m_section;               // config lines go under it; empty: top level
    std::vector<std::string> m_promptValues;   // by the mode's promptNames: the words that entered it
    std::string m_user;                  // {user}
    int m_loginFailures = 0;
    std::string m_pendingLine;           // a command waiting for its password or its reply
    std::vector<std::size_t> m_answersAt;   // per `answers` list, the next one
    std::vector<SessionCandidate> m_sessions;   // pending session candidates, the oldest first
    int m_session = -1;                  // the one the session is in; -1: none
    std::size_t m_pageLength = 0;
    Pager m_pager;
    bool m_closeAfterPaging = false;
    std::string m_otherPrompt;           // ends the answer going out instead of the prompt (prompt:)
    std::vector<const Command *> m_otherPromptShown;   // commands whose prompt: this session has shown
    bool m_afterCr = false;              // a key after CR: LF or NUL is the same Enter
    std::size_t m_commands = 0;
    std::size_t m_errors = 0;
    bool m_changedConfig = false;
};

} // namespace zentrel::console::commands
