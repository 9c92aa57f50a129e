"""checks.py: compares a session's typed lines with its expected lines and words the difference."""
import difflib
import re

RULE_WORDS = ("never: ", "once: ", "count: ", "before: ", "config-has: ", "config-lacks: ", "paging: ")


def line_matches(expected, typed):
    """An expected line matches exactly, or as a whole-line pattern when it begins with ~."""
    if expected.startswith("~"):
        try:
            return re.fullmatch(expected[1:], typed) is not None
        except re.error:
            return False
    if re.match(r"\\+~", expected) or (expected.startswith("\\") and expected.lstrip("\\").startswith(RULE_WORDS)):
        expected = expected[1:]   # backslashes then ~ or a rule's word: exact, less one backslash
    return expected == typed


def _commands(lines):
    # Bare Enters find the prompt; they are not commands.
    return [line for line in lines if line != ""]


def _expected(lines):
    """The ordered lines of EXPECT.TXT: its rules (never: ...) are checked by zentrel-serve alone."""
    return [line for line in _commands(lines) if not line.startswith(RULE_WORDS)]


def check_typed(expect, typed):
    """(passed, first differing line number from 1 or None)."""
    want, got = _expected(expect), _commands(typed)
    for number, (e, t) in enumerate(zip(want, got), start=1):
        if not line_matches(e, t):
            return False, number
    if len(want) != len(got):
        return False, min(len(want), len(got)) + 1
    return True, None


def typed_diff(expect, typed):
    """A unified diff of expected against typed lines.

    A typed line that its pattern accepts is shown as the pattern, so only real
    differences stand out and a password matched by ~.* is not printed.
    """
    want, got = _expected(expect), _commands(typed)
    shown = [e if i < len(want) and line_matches(e, t) else t
             for i, (e, t) in enumerate(zip(want + [None] * len(got), got))]
    return "\n".join(difflib.unified_diff(want, shown, "expected", "typed", lineterm=""))
