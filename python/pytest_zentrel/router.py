"""router.py: the routers a test asks for, their sessions, and what makes a test fail."""
import os
import time
import warnings
from dataclasses import dataclass, field

import pytest

from . import checks
from .router_files import write_router_dir
from .serve import POLL_SECONDS, ServeError, ServeProcess


@dataclass
class Session:
    """One client's session, as zentrel-serve reported it."""

    number: int
    peer: str
    reason: str = None          # script-exhausted, client-gone, stopped, ...; None while it runs
    items_sent: int = None
    items: int = None
    typed: list = None          # the lines the client typed; None when zentrel-serve does not say
    verdict: str = None         # pass, fail, none; None when zentrel-serve does not say
    transcript: str = None      # the session's .cast file, when zentrel-serve writes one
    commands: int = None        # a command-driven router's: command lines typed,
    errors: int = None          # those answered with an error,
    mode: str = None            # and the mode the session ended in
    event: dict = field(default_factory=dict, repr=False)  # the session-end event as it came

    @property
    def ended(self):
        return self.reason is not None


class Router:
    """A router served by its own zentrel-serve on a free loopback port."""

    def __init__(self, binary, workdir, name, response=None, expect=None, delay=None,
                 pace=None, echo=None, files=None, host="127.0.0.1", port=0, args=(),
                 commands=None):
        if files is not None and (response is not None or expect is not None or commands is not None):
            raise ValueError("give either files=PATH or response=/commands=/expect=, not both")
        if response is not None and commands is not None:
            raise ValueError("give either response=[items] or commands={...}, not both")
        if files is None:
            if response is None and commands is None:
                raise ValueError("a router needs response=[items], commands={...} or files=PATH")
            files = os.path.join(workdir, name)
            write_router_dir(files, response, expect, delay, pace, echo, commands)
            self.expect = list(expect) if expect is not None else None
        else:
            files = os.fspath(files)
            self.expect = _read_expect(files)
        self.dir = files
        self.name = os.path.basename(os.path.normpath(files))
        self.delay = delay or 0.0
        self.host = None
        self.port = None
        self.ports = {}            # protocol -> port, e.g. {"telnet": 40123}
        self._sessions = {}
        self._reported = set()
        self._commands = []
        self._faults = []
        self._check_failed = {}    # session -> the reasons of its check-failed events
        serve_dir = os.path.join(workdir, name + ".serve")
        # A command-driven router's running config, as zentrel-serve keeps it written.
        self._configs = None
        if os.path.exists(os.path.join(files, "commands.yaml")):
            self._configs = os.path.join(serve_dir, "configs")
            args = ["--configs", self._configs, *args]
        self._process = ServeProcess(binary, [files], serve_dir, self._event, host=host, port=port,
                                     extra_args=args)
        try:
            self._process.start()
        except ServeError as error:
            raise ServeError(f"router {self.name}: {error}") from None

    def __repr__(self):
        return f"<zentrel router {self.name} at {self.host}:{self.port}>"

    @property
    def sessions(self):
        """The ended sessions, in the order they began."""
        self._process.poll()
        return [s for _, s in sorted(self._sessions.items()) if s.ended]

    @property
    def commands(self):
        """A command-driven router's `command` events (dicts) so far, in the order lines were typed."""
        self._process.poll()
        return list(self._commands)

    @property
    def faults(self):
        """The faults that fired on purpose so far, one dict each from the `fault` events:
        `fault` ("cut", "reset", "close", "stall", "prompt"), `session`, and `command` (the
        line whose answer it hit) or `item` (a script's)."""
        self._process.poll()
        return list(self._faults)

    @property
    def running_config(self):
        """A command-driven router's running config as text: as it started, then as the last
        session that changed it left it (call wait() or verify() first); None for a router
        that plays a script."""
        if self._configs is None:
            return None
        with open(os.path.join(self._configs, self.name + ".cfg"), "rb") as f:
            return f.read().decode("latin-1")

    @property
    def events_path(self):
        return self._process.events_path

    @property
    def pid(self):
        """zentrel-serve's process id."""
        return self._process.pid

    def _event(self, event):
        kind = event.get("event")
        if kind == "listening":
            protocol = event.get("protocol", "telnet")
            self.ports[protocol] = event.get("port")
            if protocol == "telnet" or self.port is None:
                self.host, self.port = event.get("address"), event.get("port")
        elif kind == "session-start":
            number = event.get("session")
            self._sessions[number] = Session(number, event.get("peer"))
        elif kind == "command":
            self._commands.append(event)
        elif kind == "fault":
            self._faults.append(event)
        elif kind == "check-failed":
            self._check_failed.setdefault(event.get("session"), []).append(event.get("reason"))
        elif kind == "session-end":
            number = event.get("session")
            session = self._sessions.setdefault(number, Session(number, event.get("peer")))
            session.reason = event.get("reason")
            session.items_sent = event.get("items_sent")
            session.items = event.get("items")
            session.typed = event.get("typed")
            session.verdict = event.get("verdict")
            session.commands = event.get("commands")
            session.errors = event.get("errors")
            session.mode = event.get("mode")
            session.transcript = event.get("transcript") or self._transcript(number)
            session.event = event

    def _transcript(self, number):
        if self._process.transcripts is None:
            return None
        return os.path.join(self._process.transcripts, f"{self.name}-{number}.cast")

    def _active(self):
        return [s for s in self._sessions.values() if not s.ended]

    def wait(self, count=1, timeout=15.0):
        """Waits until `count` sessions have ended and none is running; False on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            alive = self._process.poll()
            ended = sum(1 for s in self._sessions.values() if s.ended)
            if ended >= count and not self._active():
                return True
            if not alive or time.monotonic() > deadline:
                return False
            time.sleep(POLL_SECONDS)

    def verify(self, count=1, timeout=15.0):
        """Waits for the session(s) to end, then fails the test on any failed check."""
        __tracebackhide__ = True
        if not self.wait(count, timeout):
            raise AssertionError(self._wait_failure(count, timeout))
        problems = self.problems(final=False)
        if problems:
            raise AssertionError("\n\n".join(problems))

    def _wait_failure(self, count, timeout):
        if not self._process.running():
            return (f"zentrel: router {self.name}: zentrel-serve ended with status "
                    f"{self._process.returncode}:\n{self._process.stderr()}".rstrip())
        if not self._sessions:
            return (f"zentrel: no client connected to router {self.name} at "
                    f"{self.host}:{self.port} within {timeout:g} s")
        active = "\n\n".join(self._running_text(s, "is still running") for s in self._active())
        ended = sum(1 for s in self._sessions.values() if s.ended)
        return (f"zentrel: router {self.name}: {ended} of {count} session(s) ended within "
                f"{timeout:g} s\n{active}").rstrip()

    def problems(self, final):
        """The failures not yet reported: failed checks, and with `final` the sessions still running."""
        self._process.poll()
        found = []
        running = set()
        if final and self._active():
            # A client that just hung up is seen at the session's next read or item.
            self.wait(count=0, timeout=1.0 + 2 * self.delay)
            running = {s.number for s in self._active()}
            if running:
                # Stopped now, each session still running ends with what it
                # typed so far and its check, which the report can show.
                self._process.stop()
        for number, session in sorted(self._sessions.items()):
            if number in self._reported:
                continue
            if number in running:
                text = self._running_text(session)
            elif session.ended:
                text = self._check_text(session)
            elif final:
                text = self._running_text(session)
            else:
                continue
            if text:
                self._reported.add(number)
                found.append(text)
        return found

    def _check_text(self, session):
        verdict, line = session.verdict, None
        if verdict is None and self.expect is not None:
            if session.typed is None:
                warnings.warn(f"zentrel: router {self.name}: this zentrel-serve reports neither "
                              f"verdicts nor typed lines; EXPECT.TXT was not checked")
                return None
            # An older zentrel-serve reports the typed lines only: check them here.
            passed, line = checks.check_typed(self.expect, session.typed)
            verdict = "pass" if passed else "fail"
        if verdict != "fail":
            return None
        # The rules it broke: from its end, else as they were told when typed.
        rules = session.event.get("rules_failed") or self._check_failed.get(session.number, [])
        out_of_order = "first_difference" in session.event or not rules or line is not None
        text = f"zentrel: router {self.name}, session {session.number} from {session.peer}: "
        text += "the typed lines differ from the expected ones" if out_of_order else "it broke its rules"
        line = session.event.get("line", line)
        if line is not None:
            text += f" (line {line})"
        if out_of_order and self.expect is not None and session.typed is not None:
            text += "\n" + checks.typed_diff(self.expect, session.typed)
        if rules:
            text += "\nrules failed:\n" + "\n".join(f"  {rule}" for rule in rules)
        return text + self._transcript_line(session)

    def _running_text(self, session, state="was still running when the test ended"):
        text = f"zentrel: router {self.name}, session {session.number} from {session.peer} {state}"
        if session.typed is not None:
            if self.expect is not None:
                diff = checks.typed_diff(self.expect, session.typed)
                text += "; the lines typed so far against the expected ones:\n" + (diff or "(no difference yet)")
            else:
                typed = [line for line in session.typed if line]
                text += f"; {len(typed)} line(s) typed so far:\n" + "\n".join(typed)
        return text + self._transcript_line(session)

    def _transcript_line(self, session):
        path = session.transcript or self._transcript(session.number)
        return f"\ntranscript: {path}" if path else ""

    def summary(self):
        """A few lines on every session, for the report of a test that failed."""
        self._process.poll()
        lines = [f"router {self.name} at {self.host}:{self.port} ({self.dir})"]
        for number, s in sorted(self._sessions.items()):
            # Typed lines are left out: they may hold a password; the transcript has them.
            facts = [s.reason or "running"]
            if s.items is not None:
                facts.append(f"{s.items_sent} of {s.items} items sent")
            if s.typed is not None:
                facts.append(f"{len(s.typed)} lines typed")
            if s.commands is not None:
                facts.append(f"{s.commands} commands ({s.errors} errors), ending in mode {s.mode}")
            if s.verdict is not None:
                facts.append(f"verdict {s.verdict}")
            lines.append(f"  session {number} from {s.peer}: " + ", ".join(facts))
            if s.transcript or self._transcript(number):
                lines.append(f"    transcript: {s.transcript or self._transcript(number)}")
        return "\n".join(lines)

    def stop(self):
        """Stops zentrel-serve; raises ServeError when it ends badly (1 is a failed check, reported already)."""
        status = self._process.stop()
        if status not in (0, 1, None):
            raise ServeError(f"router {self.name}: zentrel-serve exited with status {status}:\n"
                             f"{self._process.stderr()}".rstrip())


def _read_expect(path):
    try:
        with open(os.path.join(path, "EXPECT.TXT"), "rb") as f:
            return f.read().decode("latin-1").splitlines()
    except FileNotFoundError:
        return None
    except OSError as error:
        raise ServeError(f"cannot read {path}/EXPECT.TXT: {error}") from error


class Zentrel:
    """The `zentrel` fixture: makes routers and stops them when the test (or module) is done."""

    def __init__(self, binary, workdir, scope):
        self.binary = binary
        self.workdir = workdir
        self.scope = scope
        self.routers = []

    def router(self, response=None, expect=None, delay=None, pace=None, echo=None,
               files=None, name=None, host="127.0.0.1", port=0, args=(), commands=None):
        """A router listening on HOST (loopback) and a free port, or PORT when given.

        response: the items, str (one character a byte) or bytes; commands: instead, a
        command-driven router's commands.yaml as a dict (or YAML text), whose
        running_config and commands the test can read; expect: the lines the client
        must type (~ begins a pattern); delay: seconds between items; pace: "clock" or
        "enter"; echo: True or False; files: an existing router directory instead (a
        command-driven one too); args: more zentrel-serve options, e.g. ["--sessions", "4"].
        """
        __tracebackhide__ = True
        name = name or f"r{len(self.routers) + 1}"
        try:
            router = Router(self.binary, self.workdir, name, response, expect, delay, pace,
                            echo, files, host, port, args, commands)
        except ServeError as error:
            pytest.fail(f"zentrel: {error}", pytrace=False)
        self.routers.append(router)
        return router

    def problems(self, final):
        return [p for r in self.routers for p in r.problems(final)]

    def close(self):
        errors = []
        for router in self.routers:
            try:
                router.stop()
            except ServeError as error:
                errors.append(str(error))
        return errors
