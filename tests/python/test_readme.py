"""test_readme.py: every shell and Python snippet of README.md runs as it is written, or is named with why it cannot here.

A snippet runs from a copy of the repository's top (demo/, tests/, python/ and
build/ linked into a scratch folder), its text written to a file as it stands.
One that needs something running beside it (the window on port 1101, a real
router) gets it from its wrapper here; fixed ports are taken in a network
namespace of the test's own, so that nothing else on the machine can clash.
"""
import json
import os
import re
import shlex
import shutil
import subprocess
import textwrap
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
README = SOURCE / "README.md"
SECONDS = 180


def snippets():
    """(language, text) of each ```sh and ```python block, in order."""
    text = README.read_text(encoding="utf-8")
    return [(m.group(1), m.group(2)) for m in
            re.finditer(r"^```(sh|python)\n(.*?)^```$", text, re.MULTILINE | re.DOTALL)]


def snippet(first_line):
    """The one snippet that begins with this line."""
    found = [text for _, text in snippets() if text.splitlines()[0] == first_line]
    assert len(found) == 1, f"{len(found)} snippets of README.md begin with {first_line!r}"
    return found[0]


# Snippets that cannot run inside `make test`, by their first line, and what checks them instead.
NOT_HERE = {
    "make run     # installs what is missing, builds, starts Zentrel in build/run/ with the demo files":
        "make test is the run this test belongs to, and make run builds in place and opens the window; "
        "the window it starts is run below for the next snippet, and tst_readme_example drives it",
    "make package                                  # builds build/zentrel_2.0_amd64.deb":
        "installs onto this machine with sudo; tst_package builds the package and checks what it holds",
    "make install                                  # as root, or:":
        "installs onto this machine; test_install.py stages make install and checks what it puts where",
    "make image        # build/zentrel-serve-2.0.oci.tar":
        "builds static programs for minutes, so it stays out of make test as the README says",
    "podman load -i build/zentrel-serve-2.0.oci.tar":
        "needs the image of make image; make image-test loads and runs it",
    "podman --runtime runc run --rm --network host --init \\":
        "needs the image of make image; make image-test runs this very line when the plain one fails",
    "kubectl create namespace lab":
        "needs a Kubernetes cluster; test_deploy.py checks the manifest and serves its routers",
    "sudo containerlab deploy -t deploy/containerlab/zentrel.clab.yml":
        "needs containerlab as root; test_deploy.py checks the topology and serves its routers",
    "make bench     # the benchmark: the window's pacing, idle cost, throughput, turnaround, memory; the fleet; command answers (bench/README.md)":
        "each runs for minutes; they are targets of their own",
}


@pytest.fixture
def checkout(tmp_path):
    """The repository's top as the README's commands see it, with the build under test as build/."""
    build = os.environ.get("ZENTREL_BUILD_DIR")
    if not build:
        pytest.skip("ZENTREL_BUILD_DIR (the build folder under test) is not set")
    top = tmp_path / "top"
    top.mkdir()
    for name in ("demo", "tests", "python"):
        (top / name).symlink_to(SOURCE / name)
    (top / "build").symlink_to(build)
    return top


def environment(top):
    env = dict(os.environ)
    env["PATH"] = f"{top / 'build'}{os.pathsep}{env['PATH']}"   # zentrel-serve as installed
    env.pop("PYTHONPATH", None)
    return env


def unshare_works():
    return subprocess.run(["unshare", *NAMESPACES, "-n", "true"], capture_output=True).returncode == 0


# A user, mount and PID namespace: when the script ends, whatever it left running ends too.
NAMESPACES = ["-rm", "--fork", "--pid", "--kill-child", "--mount-proc"]


def run(top, script, *, isolated=False, hosts=None):
    """Runs bash `script` in `top`; isolated: with a loopback of its own (and, with hosts, that /etc/hosts)."""
    command = ["bash", "-c", script]
    if isolated and not unshare_works():
        pytest.skip("unshare cannot make a network namespace here (fixed ports would clash)")
    if unshare_works():
        setup = ""
        if isolated:
            setup = "ip link set lo up\n"
        if hosts:
            (top / "hosts").write_text(hosts)
            setup += "mount --bind hosts /etc/hosts\n"
        command = ["unshare", *NAMESPACES, *(["-n"] if isolated else []), "bash", "-c", setup + script]
    return subprocess.run(command, cwd=top, env=environment(top), capture_output=True, text=True,
                          encoding="latin-1", timeout=SECONDS)


def write_snippet(top, first_line, name="snippet.sh"):
    (top / name).write_text(snippet(first_line))
    return name


WAIT_FOR_PORT = "until ss -ltn | grep -q \":$1 \"; do sleep 0.05; done"


def test_every_snippet_is_run_or_named():
    firsts = [text.splitlines()[0] for _, text in snippets()]
    assert len(firsts) == len(set(firsts)), "two snippets begin alike; give each its own first line"
    covered = set(NOT_HERE) | {first for case in RUNS for first in case.snippets}
    assert [f for f in firsts if f not in covered] == [], "a snippet of README.md that no test runs"
    assert [f for f in covered if f not in firsts] == [], "a snippet named here that README.md no longer has"


class Case:
    def __init__(self, function, *snippets):
        self.function = function
        self.snippets = snippets

    def __repr__(self):
        return self.function.__name__


def point_a_script_at_it(top):
    """telnet and demo/login.exp against the window on port 1101, started as make run starts it."""
    name = write_snippet(top, "telnet localhost 1101          # watch the demo script play, type anything")
    result = run(top, textwrap.dedent(f'''
        mkdir run && cp demo/RESPONSE.TXT demo/ROUTER.CFG demo/zentrel.ini run/
        export XDG_RUNTIME_DIR=$(mktemp -d) TMPDIR=$(mktemp -d)
        (cd run && QT_QPA_PLATFORM=offscreen exec ../build/zentrel) & window=$!
        set -- 1101; {WAIT_FOR_PORT}
        bash {name} </dev/null; status=$?
        kill $window; wait $window
        exit $status
    '''), isolated=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Connected to localhost." in result.stdout
    assert "login.exp: session complete" in result.stdout


def ci_step(top):
    """The CI step: two routers from the demo files, demo/login.exp against one, the stop."""
    name = write_snippet(top, "set -eu")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "login.exp: session complete" in result.stdout
    assert '"router":"core","session":1,' in result.stdout
    assert '"reason":"script-exhausted","items_sent":12,"items":12' in result.stdout


def checks_transcripts_and_report(top):
    """The check of a session that typed one line wrong, as the README shows it."""
    name = write_snippet(top, "zentrel-serve --connections 1 --transcripts casts --junit report.xml edge")
    edge = top / "edge"
    edge.mkdir()
    (edge / "RESPONSE.TXT").write_bytes(b'"Username: ","Password: ","edge#"\r\n')
    (edge / "EXPECT.TXT").write_bytes(b"admin\r\n~secret[0-9]*\r\nshow version\r\n")
    (edge / "zentrel.ini").write_bytes(b"[Settings]\r\nTCP-Port=2001\r\nDelay=0.2\r\n")
    result = run(top, textwrap.dedent(f'''
        bash {name} & serve=$!
        set -- 2001; {WAIT_FOR_PORT}
        printf 'admin\\r\\nsecret42\\r\\nshow run\\r\\n' | nc -q 5 127.0.0.1 2001 >/dev/null
        wait $serve
    '''), isolated=True)
    assert result.returncode == 1, result.stdout + result.stderr   # the check failed
    assert "zentrel-serve: edge listening on 127.0.0.1:2001 (telnet)" in result.stderr
    assert ('failed its check, line 3: expected "show version", typed "show run"\n'
            f"--- {edge}/EXPECT.TXT\n+++ typed\n@@ -1,3 +1,3 @@\n admin\n ~secret[0-9]*\n"
            "-show version\n+show run\n") in result.stderr, result.stderr
    assert (top / "casts" / "edge-1.cast").read_text(encoding="latin-1").startswith('{"version": 2,')
    assert ET.parse(top / "report.xml").getroot().get("failures") == "1"


def netmiko_over_ssh(top):
    """netmiko's cisco_ios against tests/ssh/routers/netmiko-ssh, as a new user would run it."""
    name = write_snippet(top, "rm -f events.jsonl")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    assert '"reason":"client-gone"' in (top / "events.jsonl").read_text(encoding="latin-1")


def record_a_real_router(top):
    """zentrel-record between demo/login.exp and a router at router.lab:23, then the mock it wrote."""
    lines = snippet("mkdir rec").splitlines()
    assert len(lines) == 4 and "zentrel-record" in lines[1] and "zentrel-serve rec" in lines[3]
    # The real router is the demo served on router.lab's port 23; the recorder and the mock
    # are servers, so they run in the background while the client lines run (bash -c runs
    # a line of one command as that command itself, so that its process is the one stopped).
    result = run(top, textwrap.dedent(f'''
        build/zentrel-serve --port 23 --connections 1 demo 2>router.err &
        set -- 23; {WAIT_FOR_PORT}
        {lines[0]}
        bash -c {shlex.quote(lines[1])} > record.out 2>&1 & recorder=$!
        set -- 2323; {WAIT_FOR_PORT}
        {lines[2]}
        wait $recorder || exit 10
        bash -c {shlex.quote(lines[3])} 2>mock.err & mock=$!
        set -- 2323; {WAIT_FOR_PORT}
        expect demo/login.exp 127.0.0.1 2323; status=$?
        kill $mock; wait $mock
        cat record.out
        exit $status
    '''), isolated=True, hosts="127.0.0.1 localhost\n127.0.0.1 router.lab\n")
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.count("login.exp: session complete") == 2, result.stdout
    assert "12 items, 11 lines" in result.stdout
    ini = (top / "rec" / "zentrel.ini").read_text()
    assert "TCP-Port=2323" in ini and "Pace=Enter" in ini


def record_in_any_order(top):
    """zentrel-record --ssh --commands between netmiko and the cisco_ios starter at router.lab:22,
    then the mock it wrote asked the same commands in another order."""
    lines = snippet("mkdir rec-any").splitlines()
    assert len(lines) == 5 and "--commands" in lines[1] and "zentrel-serve rec-any" in lines[3]
    result = run(top, textwrap.dedent(f'''
        build/zentrel-serve --router cisco_ios --port 23 --ssh-port 22 --connections 1 2>router.err &
        set -- 22; {WAIT_FOR_PORT}
        {lines[0]}
        bash -c {shlex.quote(lines[1])} > record.out 2>&1 & recorder=$!
        set -- 2222; {WAIT_FOR_PORT}
        {lines[2]} > recorded.json || exit 10
        wait $recorder || exit 11
        bash -c {shlex.quote(lines[3])} 2>mock.err & mock=$!
        set -- 2222; {WAIT_FOR_PORT}
        {lines[4]} > replayed.json; status=$?
        kill $mock; wait $mock
        cat record.out
        exit $status
    '''), isolated=True, hosts="127.0.0.1 localhost\n127.0.0.1 router.lab\n")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "2 modes, 6 commands from 7 lines" in result.stdout, result.stdout
    recorded, replayed = (dict(json.loads((top / name).read_text())["answers"])
                          for name in ("recorded.json", "replayed.json"))
    assert replayed == recorded and "Version 15.9" in recorded["show version"]
    shown = re.search(r"^and `rec-any/commands.yaml` begins:\n\n```yaml\n(.*?)^```$",
                      README.read_text(encoding="utf-8"), re.MULTILINE | re.DOTALL).group(1)
    written = (top / "rec-any" / "commands.yaml").read_text()
    for line in shown.splitlines():
        assert line in written.splitlines() or line.endswith(', ..."'), line


def starter_routers(top):
    """The list of the starter routers, from the build that was not installed."""
    name = write_snippet(top, "zentrel-serve --routers          # the starters, one a line: the name and what it is")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    for starter in ("arista_eos", "cisco_ios", "cisco_nxos", "juniper_junos"):
        assert f"\n{starter} " in "\n" + result.stdout, result.stdout
    assert "cisco_ios      a small lab router running IOS" in result.stdout
def routers_that_answer(top):
    """The README's netmiko script against demo/commands, run by the README's lines."""
    (top / "netmiko_demo.py").write_text(snippet("# netmiko_demo.py: two show commands, an interface "
                                                 "description, the save, the change read back."))
    name = write_snippet(top, "build/zentrel-serve --port 0 --ssh-port 0 --events events.jsonl --configs "
                              "configs demo/commands &")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    shown = re.search(r"^```sh\nbuild/zentrel-serve --port 0 --ssh-port 0 .*?^```\n.*?^```text\n(.*?)^```$",
                      README.read_text(encoding="utf-8"), re.MULTILINE | re.DOTALL).group(1)
    assert result.stdout == shown, result.stdout
    events = (top / "events.jsonl").read_text(encoding="latin-1")
    assert '"line":"sh ver","matched":"show version"' in events
    assert '"line":"***","matched":null,"secret":true' in events


RUN_BACKUP = '''\
import socket


def run_backup(host, port):
    """The code under test: logs in and asks for the running configuration."""
    with socket.create_connection((host, port), timeout=10) as s:
        got = b""
        for prompt, line in ((b"Username: ", b"admin"), (b"Password: ", b"secret"),
                             (b"r1#", b"show running-config")):
            while prompt not in got:
                chunk = s.recv(4096)
                assert chunk, f"closed before {prompt!r}: {got!r}"
                got += chunk
            s.sendall(line + b"\\r\\n")
        while s.recv(4096):
            pass


'''


def routers_in_pytest(top):
    """The README's test, with a run_backup to test, run by the README's pytest command."""
    (top / "my_tests").mkdir()
    (top / "my_tests" / "test_backup.py").write_text(RUN_BACKUP + snippet("def test_backup_script(zentrel):"))
    name = write_snippet(top, "PYTHONPATH=python /usr/bin/python3 -m pytest -p pytest_zentrel "
                              "--zentrel-serve=build/zentrel-serve my_tests/")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "1 passed" in result.stdout


SET_DESCRIPTION = '''\
import socket


def set_description(host, port, interface, text):
    """The code under test: configures an interface's description and leaves."""
    with socket.create_connection((host, port), timeout=10) as s:
        s.sendall(f"configure terminal\\r\\ninterface {interface}\\r\\ndescription {text}\\r\\n"
                  "end\\r\\nexit\\r\\n".encode())
        while s.recv(4096):
            pass


'''


def command_driven_router_in_pytest(top):
    """The README's test of a command-driven router, with a set_description to test."""
    (top / "my_tests").mkdir()
    (top / "my_tests" / "test_description.py").write_text(
        SET_DESCRIPTION + snippet("def test_interface_description(zentrel):"))
    result = run(top, "PYTHONPATH=python /usr/bin/python3 -m pytest -p pytest_zentrel "
                      "--zentrel-serve=build/zentrel-serve my_tests/")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "1 passed" in result.stdout


def faults_in_pytest(top):
    """The README's tests of a script against a router that drops a show and logs inside output."""
    (top / "test_flaky_show.py").write_text(snippet("# test_flaky_show.py: a script that tries a show again "
                                                    "on a new session when the router drops it."))
    name = write_snippet(top, "PYTHONPATH=python /usr/bin/python3 -m pytest -q -p pytest_zentrel "
                              "--zentrel-serve=build/zentrel-serve test_flaky_show.py")
    result = run(top, f"bash {name}")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "2 passed" in result.stdout


RUNS = [
    Case(point_a_script_at_it, "telnet localhost 1101          # watch the demo script play, type anything"),
    Case(starter_routers, "zentrel-serve --routers          # the starters, one a line: the name and what it is"),
    Case(ci_step, "set -eu"),
    Case(checks_transcripts_and_report,
         "zentrel-serve --connections 1 --transcripts casts --junit report.xml edge"),
    Case(netmiko_over_ssh, "rm -f events.jsonl"),
    Case(record_a_real_router, "mkdir rec"),
    Case(record_in_any_order, "mkdir rec-any"),
    Case(routers_that_answer,
         "# netmiko_demo.py: two show commands, an interface description, the save, the change read back.",
         "build/zentrel-serve --port 0 --ssh-port 0 --events events.jsonl --configs configs demo/commands &"),
    Case(command_driven_router_in_pytest, "def test_interface_description(zentrel):"),
    Case(faults_in_pytest, "# test_flaky_show.py: a script that tries a show again on a new session when the router "
                           "drops it.",
         "PYTHONPATH=python /usr/bin/python3 -m pytest -q -p pytest_zentrel --zentrel-serve=build/zentrel-serve "
         "test_flaky_show.py"),
    Case(routers_in_pytest, "def test_backup_script(zentrel):",
         "PYTHONPATH=python /usr/bin/python3 -m pytest -p pytest_zentrel --zentrel-serve=build/zentrel-serve "
         "my_tests/"),
]


@pytest.mark.parametrize("case", RUNS, ids=repr)
def test_snippet_runs_as_written(case, checkout):
    for tool in ("expect", "telnet", "nc", "ss"):
        if not shutil.which(tool):
            pytest.skip(f"{tool} is not installed (scripts/install-deps)")
    case.function(checkout)
