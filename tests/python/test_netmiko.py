"""test_netmiko.py: netmiko's cisco_ios_telnet logs in, runs a command and leaves, through the fixture."""
import socket
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
