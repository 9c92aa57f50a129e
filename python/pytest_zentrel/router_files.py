"""router_files.py: writes a router directory (RESPONSE.TXT or commands.yaml, EXPECT.TXT, zentrel.ini) for zentrel-serve."""
import json
import os

_BLANKS = (" ", "\t")


def as_bytes(item):
    """Bytes reach the client as they are; text is taken one character a byte (Latin-1)."""
    if isinstance(item, (bytes, bytearray)):
        return bytes(item)
    if isinstance(item, str):
        return item.encode("latin-1")
    raise TypeError(f"a response item is str or bytes, not {type(item).__name__}")


def quote_item(item):
    """One item as a line of RESPONSE.TXT that the item reader gives back byte for byte.

    Unquoted, the reader would split at a comma or a line end, drop leading
    blanks, and take a leading double quote as the start of a quoted item; such
    an item is quoted, with each double quote inside doubled. Any other item,
    trailing blanks and inner double quotes included, stands as it is.
    """
    data = as_bytes(item)
    needs_quotes = (
        b"," in data
        or b"\r" in data
        or b"\n" in data
        or data[:1] in (b" ", b"\t", b'"')
    )
    if not needs_quotes:
        return data
    return b'"' + data.replace(b'"', b'""') + b'"'


def response_text(items):
    return b"".join(quote_item(item) + b"\r\n" for item in items)


def expect_text(lines):
    out = []
    for line in lines:
        if not isinstance(line, str):
            raise TypeError(f"an expected line is str, not {type(line).__name__}")
        if "\r" in line or "\n" in line:
            raise ValueError(f"an expected line holds no line end: {line!r}")
        out.append(line.encode("latin-1") + b"\n")
    return b"".join(out)


def format_delay(seconds):
    if seconds < 0:
        raise ValueError(f"delay must not be negative: {seconds}")
    text = f"{seconds:.6f}".rstrip("0").rstrip(".")
    return text or "0"


def ini_text(delay=None, pace=None, echo=None):
    lines = ["[Settings]"]
    if delay is not None:
        lines.append("Delay=" + format_delay(delay))
    if pace is not None:
        word = str(pace).strip().lower()
        if word not in ("clock", "enter"):
            raise ValueError(f'pace is "clock" or "enter", not {pace!r}')
        lines.append("Pace=" + word.capitalize())
    if echo is not None:
        lines.append("Echo=" + ("Yes" if echo else "No"))
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def commands_text(commands):
    """commands.yaml from a dict (written as JSON, which YAML reads as it is) or from YAML text."""
    if isinstance(commands, dict):
        return json.dumps(commands, indent=1).encode("latin-1")
    if isinstance(commands, (str, bytes, bytearray)):
        return as_bytes(commands)
    raise TypeError(f"commands is a dict or YAML text, not {type(commands).__name__}")


def write_router_dir(path, response=None, expect=None, delay=None, pace=None, echo=None,
                     commands=None):
    """A router directory that plays `response`, or answers as `commands` (commands.yaml) says."""
    os.makedirs(path)
    if commands is not None:
        with open(os.path.join(path, "commands.yaml"), "wb") as f:
            f.write(commands_text(commands))
    else:
        with open(os.path.join(path, "RESPONSE.TXT"), "wb") as f:
            f.write(response_text(response))
    if expect is not None:
        with open(os.path.join(path, "EXPECT.TXT"), "wb") as f:
            f.write(expect_text(expect))
    with open(os.path.join(path, "zentrel.ini"), "wb") as f:
        f.write(ini_text(delay, pace, echo))
