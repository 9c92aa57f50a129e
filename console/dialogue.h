// dialogue.h: the router's side of a command-driven session: an answer to each line or key the client types.
#pragma once
#include "console/faults.h"
#include "console/line_editor.h"
#include "console/observer.h"

#include <optional>
#include <string>

namespace zentrel::console {

// What the router says next, and what the session does once it is out.
struct Answer {
    std::string bytes;                    // sent as they are, after the pause
    std::optional<double> delay;          // the pause; none: the router's Delay
    std::optional<EndReason> end;         // close the session once the bytes are out
    std::optional<CommandReport> report;  // the line taken, for the reports
    std::string warning;                  // a failure the router contained, for the reports
    const AnswerFaults *faults = nullptr; // how the bytes go out wrong; kept by the router
    bool otherPrompt = false;             // the bytes end with another prompt than the mode's
    std::string typeIn;                   // Tab: what the router completed, now in the client's line
};

// The session feeds it what the client types, in order, one line or key at
// a time, and sends each answer after its pause before it feeds the next:
// - start() once, first;
// - while wantsKeys(), each byte the client types to key() (a long answer
//   being paged); otherwise each line to line();
// - when nextLineSecret(), the next line is a password: not echoed, masked
//   in the reports;
// - when ctrlZEndsLine(), Ctrl-Z ends the next line as Enter does, the line
//   keeping it as its last byte; when helpKey(), `?` and Tab go to help(),
//   not into the line, and the answer's typeIn goes into it;
// - nothing more once an answer has ended the session; ended() last of all,
//   whichever way the session ended.
class Dialogue
{
public:
    virtual ~Dialogue() = default;

    virtual Answer start() = 0;
    virtual Answer line(const TypedLine &line) = 0;
    virtual Answer key(char c) = 0;
    virtual bool wantsKeys() const = 0;
    virtual bool nextLineSecret() const = 0;
    virtual bool ctrlZEndsLine() const { return false; }
    // `?` asks what may come next (the line typed so far, which stays).
    virtual bool helpKey() const { return false; }
    virtual Answer help(const std::string & /*partial*/, bool /*tab*/) { return {}; }
    // The session is over: what it did, for its end's report.
    virtual CommandTotals ended() = 0;
};

} // namespace zentrel::console
