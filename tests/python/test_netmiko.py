"""test_netmiko.py: netmiko's cisco_ios_telnet logs in, runs a command and leaves, through the fixture;
paramiko and Debian's telnet under expect against a router's faults on purpose."""
import shutil
import socket
import subprocess
import time

import pytest

netmiko = pytest.importorskip("netmiko")

PROMPT = "r1#"
VERSION = "Cisco IOS Software, Zentrel test image\r\nr1 uptime is 1 day"


def takes_turns(zentrel):
    """Whether this zentrel-serve waits for the client's line before the next item."""
    router = zentrel.router(response=["a", "b"], pace="enter", delay=0.02, name="probe")
    with socket.create_connection((router.host, router.port), timeout=5) as client:
        client.settimeout(0.3)
        got = b""
        deadline = time.monotonic() + 0.3
        try:
            while time.monotonic() < deadline:
                got += client.recv(16)
        except socket.timeout:
            pass
        client.sendall(b"x\r\n")
        client.settimeout(5)
        while chunk := client.recv(16):
            got += chunk
    router.wait()
    return got == b"ab" and router.sessions[0].items_sent == 2 and router.sessions[0].typed == ["x"]


def test_netmiko_show_version(zentrel):
    if not takes_turns(zentrel):
        pytest.skip("this zentrel-serve has no Pace=Enter turn-taking, which netmiko needs")
    router = zentrel.router(
        # The router echoes each line with its line end, so an answer starts on a line of its own.
        response=["Username: ", "Password: ", PROMPT, PROMPT, PROMPT, VERSION + "\r\n" + PROMPT, ""],
        expect=["admin", "~.*", "terminal length 0", "terminal width 511", "show version", "exit"],
        delay=0.01, pace="enter", echo=True)
    connection = netmiko.ConnectHandler(device_type="cisco_ios_telnet", host=router.host,
                                        port=router.port, username="admin", password="secret")
    assert connection.find_prompt() == "r1#"
    output = connection.send_command("show version")
    connection.disconnect()
    assert output.splitlines() == VERSION.split("\r\n")
    router.verify()


FAULTY = {
    "modes": {"exec": {"prompt": "r1#", "commands": {
        "show tech": {"answer": "0123456789" * 10, "cut": 25},
        "show log": {"answer": "first half\nsecond half\n", "stall": 0.3, "fault": "close"},
    }}},
}

EXPECT_STALL_THEN_EOF = r"""
set timeout 5
spawn telnet 127.0.0.1 $env(TELNET_PORT)
expect "r1#" {} timeout { exit 2 }
send "show log\r"
expect "first half" {} timeout { exit 3 }
expect "second half\r\nr1#" {} timeout { exit 4 }
expect eof {} timeout { exit 5 }
"""


def test_paramiko_and_expect_see_the_cut_and_the_close(zentrel):
    paramiko = pytest.importorskip("paramiko")
    if not shutil.which("expect"):
        pytest.skip("expect is not installed (scripts/install-deps)")
    router = zentrel.router(commands=FAULTY, args=["--ssh-port", "0"])
    client = paramiko.SSHClient()
    client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
    client.connect(router.host, port=router.ports["ssh"], username="u", password="p",
                   look_for_keys=False, allow_agent=False, timeout=10)
    shell = client.invoke_shell()
    shell.settimeout(10)
    shell.send("show tech\n")
    got = b""
    while chunk := shell.recv(4096):   # b"" once the router has closed the channel
        got += chunk
    client.close()
    assert got.endswith(b"show tech\r\n" + b"0123456789" * 2 + b"01234"), got
    expect = subprocess.run(["expect", "-c", EXPECT_STALL_THEN_EOF], capture_output=True, timeout=30,
                            env={"TELNET_PORT": str(router.port), "PATH": "/usr/bin:/bin"})
    assert expect.returncode == 0, expect.stdout + expect.stderr
    router.verify(count=2)
    assert [(f["session"], f["fault"], f["command"]) for f in router.faults] == [
        (1, "cut", "show tech"), (2, "stall", "show log"), (2, "close", "show log")]
    assert [s.reason for s in router.sessions] == ["fault", "fault"]
