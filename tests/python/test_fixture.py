"""test_fixture.py: the zentrel fixture end to end against the real zentrel-serve."""
import signal
import subprocess
import sys
import textwrap
import time

import pytest

CLIENT = textwrap.dedent('''
    import socket

    def talk(router, dialog=()):
        """For each (prompt, line): reads up to the prompt, types the line; then reads to the close."""
        s = socket.create_connection((router.host, router.port), timeout=10)
        got = b""
        for prompt, line in dialog:
            while prompt.encode("latin-1") not in got:
                got += s.recv(4096)
            s.sendall(line.encode("latin-1") + b"\\r\\n")
        while chunk := s.recv(4096):
            got += chunk
        s.close()
        return got
''')


def test_passing_session_reports_its_typed_lines(run_inner):
    result = run_inner(CLIENT + textwrap.dedent('''
        def test_login(zentrel):
            router = zentrel.router(response=["Username: ", "Password: ", "\\r\\nr1#"],
                                    expect=["admin", "~.*"], delay=0.1)
            assert router.host == "127.0.0.1" and router.port > 0
            got = talk(router, [("Username: ", "admin"), ("Password: ", "secret")])
            router.verify()
            assert got == b"Username: Password: \\r\\nr1#"
            [session] = router.sessions
            assert session.reason == "script-exhausted"
            assert (session.items_sent, session.items) == (3, 3)
            # The answer to the password prompt is reported masked.
            assert [line for line in session.typed if line] == ["admin", "***"]
    '''))
    result.assert_outcomes(passed=1)


def test_wrong_line_fails_with_diff(run_inner, serve_binary):
    result = run_inner(CLIENT + textwrap.dedent('''
        def test_backup(zentrel):
            router = zentrel.router(response=["Username: ", "Password: ", "r1#", "\\r\\nr1#"],
                                    expect=["admin", "~.*", "show running-config"], delay=0.1)
            talk(router, [("Username: ", "admin"), ("Password: ", "hunter2"), ("r1#", "show run")])
            router.verify()
    '''))
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*router r1, session 1 from 127.0.0.1:*differ*",
                                 "*-show running-config", "*+show run"])
    # The password matched its pattern, so the diff never prints it.
    assert "+hunter2" not in result.stdout.str()
    if "--transcripts" in subprocess.run([serve_binary, "--help"], capture_output=True,
                                         text=True).stdout:
        result.stdout.fnmatch_lines(["*transcript: */r1-1.cast"])


def test_unverified_failures_fail_the_test_itself(run_inner):
    result = run_inner(CLIENT + textwrap.dedent('''
        import socket

        clients = []

        def test_forgets_verify(zentrel):
            router = zentrel.router(response=["a", "b"], expect=["right"], delay=0.1)
            talk(router, [("a", "wrong")])
            router.wait()

        def test_leaves_session_running(zentrel):
            router = zentrel.router(response=["x"] * 100, expect=["show version", "exit"], delay=0.2)
            clients.append(socket.create_connection((router.host, router.port)))
            clients[-1].recv(10)
            clients[-1].sendall(b"show ver\\r\\n")
    '''))
    result.assert_outcomes(failed=2)
    result.stdout.fnmatch_lines(["*test_forgets_verify*", "*+wrong*"])
    # What the client typed so far, against what it should have typed.
    result.stdout.fnmatch_lines(["*session 1 from 127.0.0.1:* was still running when the test ended; the lines "
                                 "typed so far against the expected ones:",
                                 "*-show version", "*-exit", "*+show ver"])
    assert "ERROR" not in result.stdout.str()


def test_bad_setups_fail_at_once_with_the_reason(run_inner, tmp_path):
    result = run_inner(textwrap.dedent(f'''
        import socket

        def test_missing_dir(zentrel):
            zentrel.router(files={str(tmp_path / "no-such-router")!r})

        def test_port_taken(zentrel):
            taken = socket.socket()
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            zentrel.router(response=["x"], port=taken.getsockname()[1])
    '''), "--durations=0")
    result.assert_outcomes(failed=2)
    result.stdout.fnmatch_lines(["*router no-such-router: zentrel-serve exited with status 2*",
                                 "*router r1: zentrel-serve exited with status 2*"])


def test_missing_binary_is_an_error_not_a_skip(pytester):
    pytester.makepyfile("def test_x(zentrel):\n    zentrel.router(response=['x'])\n")
    result = pytester.runpytest_subprocess("-p", "pytest_zentrel",
                                           "--zentrel-serve=/nonexistent/zentrel-serve")
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines(["*--zentrel-serve=/nonexistent/zentrel-serve: no executable*"])


def test_module_fixture_serves_every_test_of_the_module(run_inner):
    result = run_inner(CLIENT + textwrap.dedent('''
        import pytest

        @pytest.fixture(scope="module")
        def router(zentrel_module):
            return zentrel_module.router(response=["hello"], delay=0.01)

        def test_first(router):
            assert talk(router) == b"hello"
            router.verify(count=1)

        def test_second(router):
            assert talk(router) == b"hello"
            router.verify(count=2)
            assert [s.number for s in router.sessions] == [1, 2]
    '''))
    result.assert_outcomes(passed=2)


def test_items_reach_the_client_byte_for_byte(run_inner):
    # Each item is one the item reader would split, trim or unquote if written as it stands.
    result = run_inner(CLIENT + textwrap.dedent('''
        ITEMS = ["a,b", "line\\r\\nnext\\n", "  indented", "prompt> ", \'say "hi"\',
                 \'"quoted" start\', \'both, "and"\', "", "\\tlatin \\xe9\\xff\\x00", b"\\x80,\\x81"]

        def test_round_trip(zentrel):
            router = zentrel.router(response=ITEMS, delay=0)
            got = talk(router)
            router.verify()
            assert got == b"".join(i if isinstance(i, bytes) else i.encode("latin-1") for i in ITEMS)
            assert router.sessions[0].items == len(ITEMS)
    '''))
    result.assert_outcomes(passed=1)


def _gone(pid):
    """True once the process has ended (a zombie nobody reaps counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


@pytest.mark.parametrize("stop", [signal.SIGTERM, signal.SIGKILL])
def test_no_router_outlives_its_stopped_test_run(serve_binary, tmp_path, stop):
    """A CI cancel (SIGTERM) or SIGKILL of pytest mid-test leaves no zentrel-serve listening."""
    pid_file = tmp_path / "serve.pid"
    (tmp_path / "test_hangs.py").write_text(textwrap.dedent(f'''
        import time

        def test_hangs(zentrel):
            router = zentrel.router(response=["x"], delay=100)
            open({str(pid_file)!r}, "w").write(str(router.pid))
            time.sleep(120)
    '''))
    inner = subprocess.Popen([sys.executable, "-m", "pytest", "-p", "pytest_zentrel", "-p", "no:cacheprovider",
                              f"--zentrel-serve={serve_binary}", "test_hangs.py"],
                             cwd=tmp_path, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while not pid_file.exists() or not pid_file.read_text():
            assert inner.poll() is None and time.monotonic() < deadline, "the inner test run did not start"
            time.sleep(0.05)
        served = int(pid_file.read_text())
        inner.send_signal(stop)
        inner.wait(30)
        deadline = time.monotonic() + 10
        while not _gone(served) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert _gone(served), f"zentrel-serve {served} still runs after {signal.Signals(stop).name} of pytest"
    finally:
        inner.kill()
        inner.wait()


COMMANDS = {
    "hostname": "p1",
    "modes": {
        "exec": {"prompt": "{hostname}#", "commands": {
            "show version": {"answer": "Version 1\n"},
            "configure terminal": {"mode": "config"},
            "exit": {"close": True}}},
        "config": {"prompt": "{hostname}(config)#", "config": True,
                   "commands": {"end": {"mode": "exec"}}},
    },
}


def test_command_driven_router_shows_its_commands_and_running_config(zentrel):
    import socket
    router = zentrel.router(commands=COMMANDS, expect=["sh ver", "conf t", "~hostname .*", "end", "bogus",
                                                       "exit"])
    assert "hostname p1\n" in router.running_config
    with socket.create_connection((router.host, router.port), timeout=10) as s:
        s.sendall(b"sh ver\r\nconf t\r\nhostname p2\r\nend\r\nbogus\r\nexit\r\n")
        got = b""
        while chunk := s.recv(4096):
            got += chunk
    router.verify()
    assert b"sh ver\r\nVersion 1\r\np1#" in got and got.endswith(b"p2#exit\r\n")
    assert [(c["mode"], c["line"], c["matched"], c.get("error"), c.get("config"))
            for c in router.commands] == [
        ("exec", "sh ver", "show version", None, None),
        ("exec", "conf t", "configure terminal", None, None),
        ("config", "hostname p2", None, None, True),
        ("config", "end", "end", None, None),
        ("exec", "bogus", None, "invalid", None),
        ("exec", "exit", "exit", None, None),
    ]
    assert "hostname p2\n" in router.running_config
    [session] = router.sessions
    assert (session.reason, session.commands, session.errors, session.mode) == ("closed", 6, 1, "exec")


def test_a_router_is_either_command_driven_or_scripted(zentrel):
    with pytest.raises(ValueError, match="not both"):
        zentrel.router(response=["R>"], commands=COMMANDS)
    assert zentrel.router(response=["R>"]).running_config is None


def test_verify_names_the_broken_rules_and_faults_lists_what_fired(run_inner):
    result = run_inner(CLIENT + textwrap.dedent('''
        def test_push(zentrel):
            router = zentrel.router(
                commands={"modes": {"exec": {"prompt": "r1#", "commands": {
                    "write memory": "[OK]\\\\n", "reload": "", "show log": {"answer": "x\\\\n", "fault": "close"}}}}},
                expect=["write memory", "never: reload", "once: write memory"])
            talk(router, [("r1#", "write memory"), ("r1#", "reload"), ("r1#", "write memory"), ("r1#", "show log")])
            assert [(f["fault"], f["command"], f["session"]) for f in router.faults] == [("close", "show log", 1)]
            router.verify()
    '''))
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*router r1, session 1 from 127.0.0.1:*differ*", "*rules failed:",
                                 "*EXPECT.TXT:2: never: reload*", "*EXPECT.TXT:3: once: write memory*"])
