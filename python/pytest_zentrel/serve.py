"""serve.py: one zentrel-serve process, started on free loopback ports and followed through its events file."""
import json
import os
import shutil
import signal
import subprocess
import time

POLL_SECONDS = 0.01
START_SECONDS = 15.0
STOP_SECONDS = 10.0


class ServeError(Exception):
    """zentrel-serve could not be found, did not start, or ended badly; the text says why."""


def find_binary(option_value):
    """The path given by --zentrel-serve, else zentrel-serve on PATH."""
    if option_value:
        path = os.path.abspath(os.path.expanduser(option_value))
        if not os.path.isfile(path) or not os.access(path, os.X_OK):
            raise ServeError(f"--zentrel-serve={option_value}: no executable file at {path}")
        return path
    found = shutil.which("zentrel-serve")
    if not found:
        raise ServeError("zentrel-serve was not found on PATH; build it (make) and give "
                         "--zentrel-serve=PATH, e.g. --zentrel-serve=build/zentrel-serve")
    return found


_help_cache = {}


def help_text(binary):
    """zentrel-serve --help, read once per binary, to learn which options it has."""
    if binary not in _help_cache:
        try:
            result = subprocess.run([binary, "--help"], capture_output=True, timeout=10)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise ServeError(f"{binary} --help failed: {error}") from error
        _help_cache[binary] = (result.stdout + result.stderr).decode("latin-1")
    return _help_cache[binary]


# Every zentrel-serve started and not yet stopped, for a test run that is itself stopped.
_running = set()


def stop_all():
    """SIGTERM to every zentrel-serve still running, then a moment for each to stop."""
    for process in list(_running):
        process.terminate()
    deadline = time.monotonic() + STOP_SECONDS
    for process in list(_running):
        process.reap(max(0.0, deadline - time.monotonic()))


class ServeProcess:
    """Runs `zentrel-serve --port P --listen HOST --events FILE [options] DIR...`.

    Events are read from the file as zentrel-serve flushes them; `poll()` hands
    each new one to `on_event`. The process is the caller's to stop.
    """

    def __init__(self, binary, dirs, workdir, on_event, host="127.0.0.1", port=0,
                 extra_args=()):
        self.binary = binary
        self.workdir = workdir
        os.makedirs(workdir, exist_ok=True)
        self.events_path = os.path.join(workdir, "events.jsonl")
        self.stderr_path = os.path.join(workdir, "stderr.txt")
        self.transcripts = None
        args = [binary, "--port", str(port), "--listen", host, "--events", self.events_path]
        # A test run killed outright (SIGKILL, a CI cancel) leaves no router running.
        if "--exit-with-parent" in help_text(binary):
            args.append("--exit-with-parent")
        if "--transcripts" in help_text(binary):
            self.transcripts = os.path.join(workdir, "transcripts")
            os.makedirs(self.transcripts)
            args += ["--transcripts", self.transcripts]
        self.args = args + list(extra_args) + list(dirs)
        self._on_event = on_event
        self._pending = b""
        self._events_file = None
        self._process = None
        self._on_ready = None
        self.returncode = None

    def start(self):
        """Starts zentrel-serve and returns once every router listens (the ready event)."""
        open(self.events_path, "wb").close()
        self._events_file = open(self.events_path, "rb")
        with open(self.stderr_path, "wb") as stderr:
            try:
                self._process = subprocess.Popen(self.args, stdin=subprocess.DEVNULL,
                                                 stdout=subprocess.DEVNULL, stderr=stderr)
            except OSError as error:
                raise ServeError(f"cannot start {self.binary}: {error}") from error
        _running.add(self)
        ready = []
        self._on_ready = lambda: ready.append(True)
        deadline = time.monotonic() + START_SECONDS
        while not ready:
            self.poll()
            if ready:
                break
            if self._process.poll() is not None:
                self.poll()
                self.returncode = self._process.returncode
                raise ServeError(f"zentrel-serve exited with status {self.returncode} before "
                                 f"it was ready:\n{self.stderr()}".rstrip())
            if time.monotonic() > deadline:
                self.kill()
                raise ServeError(f"zentrel-serve was not ready after {START_SECONDS:.0f} s:\n"
                                 f"{self.stderr()}".rstrip())
            time.sleep(POLL_SECONDS)

    def poll(self):
        """Reads the events written since the last call; returns False once the process has ended."""
        if self._events_file is None:
            return False
        alive = self._process is not None and self._process.poll() is None
        data = self._events_file.read()
        if data:
            lines = (self._pending + data).split(b"\n")
            self._pending = lines.pop()
            for line in lines:
                if line.strip():
                    self._dispatch(line)
        return alive

    def _dispatch(self, line):
        try:
            event = json.loads(line.decode("latin-1"))
        except ValueError as error:
            raise ServeError(f"zentrel-serve wrote an event that is not JSON ({error}): "
                             f"{line[:200]!r}") from error
        if event.get("event") == "ready" and self._on_ready:
            self._on_ready()
        self._on_event(event)

    def running(self):
        return self._process is not None and self._process.poll() is None

    @property
    def pid(self):
        return self._process.pid if self._process is not None else None

    def terminate(self):
        """SIGTERM without waiting, for a test run that is being stopped."""
        if self.running():
            self._process.send_signal(signal.SIGTERM)

    def reap(self, seconds):
        """Waits up to `seconds` for the process to end, then kills it."""
        try:
            self._process.wait(seconds)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        _running.discard(self)

    def stderr(self):
        try:
            with open(self.stderr_path, "rb") as f:
                return f.read().decode("latin-1")
        except OSError as error:
            return f"(its stderr could not be read: {error})"

    def stop(self):
        """SIGTERM, as an operator would stop it; returns the exit status (again when stopped already)."""
        if self._process is None or self._events_file is None:
            return self.returncode
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.kill()
                raise ServeError(f"zentrel-serve did not stop within {STOP_SECONDS:.0f} s of "
                                 f"SIGTERM and was killed:\n{self.stderr()}".rstrip())
        _running.discard(self)
        self.poll()
        self._events_file.close()
        self._events_file = None
        self.returncode = self._process.returncode
        return self.returncode

    def kill(self):
        if self._process is not None and self._process.poll() is None:
            self._process.kill()
            self._process.wait()
        _running.discard(self)
