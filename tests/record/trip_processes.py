"""trip_processes.py: the programs a round trip starts, and the checks the cases share.

Read from the command line of round_trip.py: SERVE RECORD SOURCE_DIR CASE...
"""
import json
import os
import re
import subprocess
import sys

SERVE, RECORD, SOURCE = sys.argv[1:4]
HERE = os.path.join(SOURCE, "tests", "record")
PASSWORD = "secret"   # netmiko_client.py's; its enable password is "enable-secret"


def fail(message):
    print("round_trip.py: " + message, file=sys.stderr)
    sys.exit(1)


def start_serve(*routers, ssh=False, connections=1):
    """zentrel-serve on the router directories given (and further options); the port of
    the SSH listener with ssh, else of the Telnet one."""
    process = subprocess.Popen([SERVE, "--port", "0", "--connections", str(connections), "--events", "-",
                                "--timeout", "120", *(["--ssh-port", "0"] if ssh else []), *routers],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    port = None
    for line in process.stdout:
        event = json.loads(line)
        if event.get("event") == "listening" and (event.get("protocol") == "ssh") == ssh:
            port = event["port"]
        if event.get("event") == "ready":
            break
    if port is None:
        fail("zentrel-serve did not listen: " + process.stderr.read())
    return process, port


def start_record(router_port, out, *extra, ssh=False):
    process = subprocess.Popen([RECORD, "--listen", "127.0.0.1:0", "--to",
                                "127.0.0.1:%d" % router_port, "--out", out, "--timeout", "120",
                                *(["--ssh"] if ssh else []), *extra],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stderr.readline()
    found = re.search(r"listening (?:for SSH )?on 127\.0\.0\.1(?::| port )(\d+)", line)
    if not found:
        fail("zentrel-record did not listen: " + line + process.stderr.read())
    return process, int(found.group(1))


def finish(process, name):
    try:
        out, err = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        fail(name + " did not end")
    if process.returncode != 0:
        fail("%s exited with %d: %s" % (name, process.returncode, err))
    return out, err


def run_netmiko(port, ssh, *steps):
    """netmiko_client.py's JSON: the prompt, each command's answer, each configuration's output."""
    result = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "netmiko_client.py"),
                             str(port), "cisco_ios" if ssh else "cisco_ios_telnet", *steps],
                            capture_output=True, text=True, timeout=90)
    if result.returncode != 0:
        fail("netmiko client failed: " + result.stdout + result.stderr)
    return json.loads(result.stdout)


def settings(directory):
    with open(os.path.join(directory, "zentrel.ini")) as f:
        return dict(line.strip().split("=", 1) for line in f if "=" in line)


def secret_free(directory):
    for name in os.listdir(directory):
        with open(os.path.join(directory, name), "rb") as f:
            if PASSWORD.encode() in f.read():
                fail("a password the client typed is in the recorded " + name)
