// command_index.h: the commands a mode answers, indexed so that a typed line finds its command at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentrel::console::commands {

struct Command;

enum class MatchError {
    None,
    Invalid,     // a word matched nothing: see Match::offset
    Ambiguous,   // a word abbreviates two different words, or two commands match equally
    Incomplete,  // the line is only the start of longer commands
};

// A command's variable as typed: the text and where it starts in the line.
struct MatchedValue {
    std::string_view text;
    std::size_t offset = 0;
};

struct Match {
    const Command *command = nullptr;   // null: see error
    MatchError error = MatchError::None;
    // Invalid: the byte offset in the line of the first word that matched
    // nothing, where a router puts its caret. Ambiguous: of the word that
    // abbreviates two words, or of the first word when two commands tie.
    std::size_t offset = 0;
    // The command's variables in the order of Command::variables; they
    // point into the typed line.
    std::vector<MatchedValue> values;
};

// The line without the blanks (spaces, tabs) around it.
std::string_view trimmedLine(std::string_view line);

// A typed line's words, one at a time, with where each starts.
class LineWords
{
public:
    explicit LineWords(std::string_view line, std::size_t from = 0) : m_line(line), m_pos(from) {}
    bool next(std::string_view &word, std::size_t &offset);

private:
    std::string_view m_line;
    std::size_t m_pos;
};

// The commands of one mode and of its parents. The line is cut into words
// at blanks (space, tab). Word by word, a typed word matches the fixed
// words it is a prefix of among the commands still possible after the
// words before it, and any word where a command has a `{name}`; `{name...}`
// takes the rest of the line (one word at least). A word that is a prefix
// of two different fixed words, none typed in full, makes the line
// ambiguous; a word typed in full drops the words it only abbreviates.
// Among the commands that match the whole line, the most fixed words typed
// in full win, then the most fixed words, then the mode before its parent;
// a tie is ambiguous.
//
// Patterns (commands written `~regex`) match the whole line, blanks around
// it left out, all of a mode's at once in one pass over the line. They rank
// below a word command with a fixed word, and answer a line the words
// leave invalid, incomplete or ambiguous.
//
// Cost: fixed words are found by binary search in sorted children, so a
// line costs about (words typed) × (commands still possible, at most a few)
// × log(commands), whatever the mode holds; patterns are matched by RE2 in
// time linear in the line. Nothing is allocated per command.
class CommandIndex
{
public:
    CommandIndex();
    ~CommandIndex();
    CommandIndex(CommandIndex &&) noexcept;
    CommandIndex &operator=(CommandIndex &&) noexcept;

    // A command of the mode (depth 0) or of an ancestor (depth n: n steps
    // up the parent chain). The command must outlive the index.
    void add(const Command &command, unsigned depth);
    // After the last add(). Throws std::runtime_error when the patterns
    // cannot be compiled together (out of the memory RE2 allows).
    void finish();

    // `line` must not be blank (a blank line is no command).
    Match match(std::string_view line) const;

    // What may be typed after `partial`, as `?` lists it: after a blank (or
    // at the start), the words that may come next, "WORD" for a `{name}`,
    // "LINE" for a `{name...}`, "<cr>" where a command may end; within a
    // word, the fixed words it may abbreviate. Sorted, each once. None,
    // with the error: the words before are no command's (Invalid) or one
    // abbreviates two words (Ambiguous). Patterns are not listed.
    struct Choices {
        std::vector<std::string> words;
        MatchError error = MatchError::None;
        bool within = false;   // `partial` ends within a word: `words` are what it may become
    };
    // A `?` lists at most this many fixed words: a mode of many thousand
    // commands answers it with a page, not with all of them.
    static constexpr std::size_t MaxChoices = 500;
    Choices choices(std::string_view partial) const;

private:
    struct Ending {
        const Command *command;
        unsigned depth;
    };
    struct Node {
        std::vector<std::pair<std::string, std::uint32_t>> fixed;   // sorted by word
        std::uint32_t anyWord = 0;      // the `{name}` child; 0: none (the root is nobody's child)
        std::vector<Ending> ends;       // commands whose words end here
        std::vector<Ending> rests;      // `{name...}` commands: the rest of the line from here
    };
    struct Patterns;

    std::uint32_t child(std::uint32_t node, const std::string &word);
    std::uint32_t anyChild(std::uint32_t node);
    void bindWords(std::string_view line, Match &match) const;
    void bindPattern(std::string_view line, std::string_view trimmed, Match &match) const;

    std::vector<Node> m_nodes;
    std::unique_ptr<Patterns> m_patterns;
};

} // namespace zentrel::console::commands
