#!/usr/bin/python3
"""round_trip.py: records a real client against zentrel-serve, replays the recording, compares.

Usage: round_trip.py SERVE RECORD SOURCE_DIR CASE...
       (CASE: expect, netmiko, netmiko-ssh, awkward, bad-input, commands)

The original router is a zentrel-serve router with Pace=Enter and Echo=Yes.
zentrel-record sits between the client and it and writes a router directory;
then zentrel-serve plays that directory, the same client runs again through a
second zentrel-record, and the two sessions must show the client the same
bytes, the replay's typed lines must pass the recorded EXPECT.TXT, and the
recorded Delay must be within 10 % of the original's. netmiko-ssh does the same
over SSH (zentrel-record --ssh, the original router taking only admin/secret,
and the password in none of the written files). The bad-input case runs the
recorder against what it must refuse or survive. The commands case records
netmiko against the cisco_ios starter with zentrel-record --commands, over
Telnet and over SSH, and replays the commands.yaml to the same script and to
the script with its commands in another order (commands_trip.py).
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile

import paramiko

from commands_trip import commands_case
from trip_processes import (HERE, PASSWORD, RECORD, SOURCE, fail, finish, run_netmiko, secret_free,
                            settings, start_record, start_serve)

CASES = sys.argv[4:]
ORIGINAL_DELAY = 0.3


def router_dir(path, script_bytes, settings=""):
    os.makedirs(path)
    with open(os.path.join(path, "RESPONSE.TXT"), "wb") as f:
        f.write(script_bytes)
    with open(os.path.join(path, "zentrel.ini"), "w") as f:
        f.write("[Settings]\nTCP-Port=0\nDelay=%s\nPace=Enter\nEcho=Yes\n%s" % (ORIGINAL_DELAY, settings))


def run_expect(port):
    result = subprocess.run(["expect", os.path.join(SOURCE, "demo", "login.exp"), "127.0.0.1",
                             str(port)], capture_output=True, text=True, timeout=90)
    if result.returncode != 0:
        fail("login.exp failed: " + result.stdout + result.stderr)


def netmiko_show_version(ssh):
    def client(port):
        ran = run_netmiko(port, ssh, "show version")
        if ran["prompt"] != "Router#" or "IOS Software" not in ran["answers"][0][1]:
            fail("netmiko: unexpected prompt or output: %r" % ran)
    return client


def run_raw(port):
    """Waits for each prompt, then types the next line, as a careful script does."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        received, seen = b"", 0
        for prompt, line in [(b"Name: ", b"awkward"), (b"R>", b"show odd"),
                             (b"R>", b"show more"), (b"R>", b"quit")]:
            while prompt not in received[seen:]:
                chunk = s.recv(4096)
                if not chunk:
                    fail("the router closed before %r; got %r" % (prompt, received))
                received += chunk
            seen = received.index(prompt, seen) + len(prompt)
            s.sendall(line + b"\r\n")
        while s.recv(4096):
            pass


def client_received(directory):
    with open(os.path.join(directory, "session.cast"), encoding="utf-8") as f:
        header = json.loads(f.readline())
        if header.get("version") != 2:
            fail("not an asciicast v2 header: %r" % header)
        return b"".join(event[2].encode("latin-1") for event in map(json.loads, f)
                        if event[1] == "o")


def expect_check(patterns_file, typed_file):
    """The EXPECT.TXT rules: exact lines, ~ a whole-line pattern, empty lines ignored."""
    def lines(path):
        with open(path, encoding="latin-1") as f:
            return [line.rstrip("\r\n") for line in f if line.rstrip("\r\n")]
    patterns, typed = lines(patterns_file), lines(typed_file)
    if len(patterns) != len(typed):
        fail("EXPECT.TXT has %d lines, the replay typed %d" % (len(patterns), len(typed)))
    for number, (pattern, line) in enumerate(zip(patterns, typed), 1):
        if pattern.startswith("~"):
            ok = re.fullmatch(pattern[1:], line) is not None
        else:
            ok = (pattern[1:] if pattern.startswith("\\~") else pattern) == line
        if not ok:
            fail("EXPECT.TXT line %d: %r does not match %r" % (number, pattern, line))


def session(router, out, client, *extra, ssh=False):
    serve, router_port = start_serve(router, ssh=ssh)
    record, port = start_record(router_port, out, *extra, ssh=ssh)
    client(port)
    summary, warnings = finish(record, "zentrel-record")
    finish(serve, "zentrel-serve")
    return summary, warnings


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def bad_input(work):
    busy = os.path.join(work, "busy")
    os.makedirs(busy)
    open(os.path.join(busy, "notes.txt"), "w").close()
    result = subprocess.run([RECORD, "--listen", "0", "--to", "127.0.0.1:1", "--out", busy],
                            capture_output=True, text=True, timeout=10)
    if result.returncode != 2 or "is not empty; --force" not in result.stderr:
        fail("a directory that is not empty: %d %r" % (result.returncode, result.stderr))

    # A router nobody answers for: the client is closed, nothing is written, status 1.
    nowhere = os.path.join(work, "nowhere")
    record, port = start_record(free_port(), nowhere)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        if s.recv(100) != b"":
            fail("the client of an unreachable router got bytes")
    out, err = record.communicate(timeout=10)
    if record.returncode != 1 or "cannot be reached" not in err or os.path.exists(nowhere):
        fail("an unreachable router: %d %r, written: %s" % (record.returncode, err,
                                                            os.path.exists(nowhere)))

    # An SSH router (its banner) or a TLS client (its ClientHello) on a Telnet
    # recording: one line naming it, status 2, nothing written.
    for speaker, opening in (("router", b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"),
                             ("client", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03")):
        with socket.socket() as fake:
            fake.bind(("127.0.0.1", 0))
            fake.listen(1)
            out = os.path.join(work, "not-telnet-" + speaker)
            record, port = start_record(fake.getsockname()[1], out)
            with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
                router, _ = fake.accept()
                with router:
                    (router if speaker == "router" else client).sendall(opening)
                    _, err = record.communicate(timeout=10)
        lines = err.splitlines()   # after the "listening" line
        if (record.returncode != 2 or len(lines) != 1
                or not lines[0].startswith("zentrel-record: the %s speaks %s, not Telnet"
                                           % (speaker, "SSH" if speaker == "router" else "TLS"))
                or os.path.exists(out)):
            fail("%s from the %s: %d %r, written: %s" % (opening[:3], speaker, record.returncode, err,
                                                         os.path.exists(out)))

    # Over SSH, a login the router refuses: the client hears why, nothing is written, status 1.
    guarded = os.path.join(work, "guarded")
    with open(os.path.join(SOURCE, "tests", "ssh", "routers", "netmiko-ssh", "RESPONSE.TXT"), "rb") as f:
        router_dir(guarded, f.read(), "SSH-User=admin\nSSH-Password=%s\n" % PASSWORD)
    refused = os.path.join(work, "refused")
    serve, router_port = start_serve(guarded, ssh=True)
    record, port = start_record(router_port, refused, "--ssh")
    client = paramiko.SSHClient()
    client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
    client.connect("127.0.0.1", port, username="admin", password="wrong", look_for_keys=False,
                   allow_agent=False, timeout=20)
    shell = client.invoke_shell()
    heard = b""
    while True:
        chunk = shell.recv(4096)
        if not chunk:
            break
        heard += chunk
    client.close()
    out, err = record.communicate(timeout=20)
    serve.terminate()
    serve.communicate(timeout=10)
    if (record.returncode != 1 or b"refused the login as \"admin\"" not in heard
            or "refused the login" not in err or os.path.exists(refused) or "wrong" in err):
        fail("a refused SSH login: %d %r %r, written: %s" % (record.returncode, heard, err,
                                                             os.path.exists(refused)))

    # SIGTERM in the middle of a session: what was recorded is written, status 0.
    original = os.path.join(work, "original")
    with open(os.path.join(SOURCE, "demo", "RESPONSE.TXT"), "rb") as f:
        router_dir(original, f.read())
    serve, router_port = start_serve(original)
    stopped = os.path.join(work, "stopped")
    record, port = start_record(router_port, stopped)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        received = b""
        while not received.endswith(b"Username: "):
            received += s.recv(4096)
        record.terminate()
        out, err = record.communicate(timeout=10)
    serve.terminate()
    serve.communicate(timeout=10)
    if record.returncode != 0 or "1 items, 0 lines" not in out:
        fail("SIGTERM during a session: %d %r %r" % (record.returncode, out, err))
    with open(os.path.join(stopped, "RESPONSE.TXT"), "rb") as f:
        if b"Username: " not in f.read():
            fail("SIGTERM during a session: the first item was not written")
    print("bad input: refused, reported and written as it should")


def ordered_round_trip(work, case):
    ssh = case == "netmiko-ssh"
    original = os.path.join(work, "original")
    if case == "expect":
        with open(os.path.join(SOURCE, "demo", "RESPONSE.TXT"), "rb") as f:
            router_dir(original, f.read())
        client = run_expect
    elif case == "netmiko":
        with open(os.path.join(HERE, "netmiko_router.txt"), "rb") as f:
            router_dir(original, f.read())
        client = netmiko_show_version(ssh)
    elif case == "netmiko-ssh":
        # The login is SSH's own, so the script starts at the prompt; the
        # router lets in only the account the client logs in with.
        with open(os.path.join(SOURCE, "tests", "ssh", "routers", "netmiko-ssh", "RESPONSE.TXT"), "rb") as f:
            router_dir(original, f.read(), "SSH-User=admin\nSSH-Password=%s\n" % PASSWORD)
        client = netmiko_show_version(ssh)
    elif case == "awkward":
        with open(os.path.join(HERE, "awkward_router.txt"), "rb") as f:
            router_dir(original, f.read())
        client = run_raw
    else:
        fail("unknown case " + case)

    recorded, replayed = os.path.join(work, "recorded"), os.path.join(work, "replayed")
    summary, warnings = session(original, recorded, client, ssh=ssh)
    print(summary + warnings, end="")
    replay_summary, replay_warnings = session(recorded, replayed, client, "--keep-secrets", ssh=ssh)
    print(replay_summary + replay_warnings, end="")

    first, second = client_received(recorded), client_received(replayed)
    if first != second:
        at = next((i for i, (a, b) in enumerate(zip(first, second)) if a != b),
                  min(len(first), len(second)))
        fail("the replay differs from byte %d: %r against %r"
             % (at, first[max(0, at - 40):at + 40], second[max(0, at - 40):at + 40]))
    # asciinema, the cast's real reader, gives back what the client received.
    cat = os.path.join(work, "cat.out")
    subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tests", "serve", "cast_cat.py"),
                    os.path.join(recorded, "session.cast"), cat], check=True, timeout=60)
    with open(cat, "rb") as f:
        if f.read() != first:
            fail("asciinema cat of the recorded transcript is not what the client received")
    for name in ("RESPONSE.TXT",):
        with open(os.path.join(recorded, name), "rb") as a, open(os.path.join(replayed, name), "rb") as b:
            if a.read() != b.read():
                fail(name + " of the replay differs from the recording")
    expect_check(os.path.join(recorded, "EXPECT.TXT"), os.path.join(replayed, "EXPECT.TXT"))
    ini = settings(recorded)
    if ini.get("Pace") != "Enter" or ini.get("Echo") != "Yes" or ("SSH-Port" in ini) != ssh:
        fail("zentrel.ini: %r" % ini)
    if ssh:
        secret_free(recorded)
    delay = float(ini["Delay"])
    if abs(delay - ORIGINAL_DELAY) > 0.1 * ORIGINAL_DELAY:
        fail("Delay %.3f is not within 10 %% of %.3f" % (delay, ORIGINAL_DELAY))
    print("round trip %s: %d bytes the same, Delay %.3f" % (case, len(first), delay))


def main():
    for case in CASES:
        work = tempfile.mkdtemp(prefix="zentrel-round-trip-")
        try:
            if case == "bad-input":
                bad_input(work)
            elif case == "commands":
                commands_case(work)
            else:
                ordered_round_trip(work, case)
        finally:
            if os.environ.get("ZENTREL_KEEP_ROUND_TRIP"):
                print("kept in " + work)
            else:
                shutil.rmtree(work, ignore_errors=True)


main()
