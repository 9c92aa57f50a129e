"""checks.py: compares a session's typed lines with its expected lines and words the difference."""
import difflib
import re


def line_matches(expected, typed):
    """An expected line matches exactly, or as a whole-line pattern when it begins with ~."""
    if expected.startswith("~"):
        try:
            return re.fullmatch(expected[1:], typed) is not None
        except re.error:
            return False
    if re.match(r"\\+~", expected):   # backslashes then ~: exact, less one backslash
        expected = expected[1:]
    return expected == typed


def _commands(lines):
    # Bare Enters find the prompt; they are not commands.
    return [line for line in lines if line != ""]


def check_typed(expect, typed):
    """(passed, first differing line number from 1 or None)."""
    want, got = _commands(expect), _commands(typed)
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
    want, got = _commands(expect), _commands(typed)
    shown = [e if i < len(want) and line_matches(e, t) else t
             for i, (e, t) in enumerate(zip(want + [None] * len(got), got))]
    return "\n".join(difflib.unified_diff(want, shown, "expected", "typed", lineterm=""))
