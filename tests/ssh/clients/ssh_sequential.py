# ssh_sequential.py: sessions one after another, as a test suite of netmiko scripts opens them.
# Usage: ssh_sequential.py N — N sessions the router closes (its answer to
# "exit" is its last item), then N the client closes right after typing a line.
# Every session must reach its prompt and end within seconds: a session that
# stalls names itself.
import os
import signal
import socket
import sys

import paramiko

port = int(os.environ["SSH_PORT"])
serve = int(os.environ["SERVE_PID"])
count = int(sys.argv[1])


def prompt(channel):
    seen = b""
    while not seen.endswith(b"R1>"):
        chunk = channel.recv(4096)
        if not chunk:
            raise RuntimeError(f"closed before the prompt, after {seen!r}")
        seen += chunk


def session(router_closes):
    client = paramiko.SSHClient()
    client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
    client.connect("127.0.0.1", port=port, username="admin", password="secret",
                   look_for_keys=False, allow_agent=False,
                   timeout=10, banner_timeout=10, auth_timeout=10)
    channel = client.invoke_shell()
    channel.settimeout(10)
    prompt(channel)
    if router_closes:
        channel.send(b"exit\n")
        while channel.recv(4096):
            pass
    else:
        channel.send(b"\n")
        prompt(channel)
        # A line and the socket's end back to back, as netmiko's disconnect()
        # sends them; held up a moment, the router finds both waiting when
        # it next looks, as it does on a busy loop.
        os.kill(serve, signal.SIGSTOP)
        try:
            channel.send(b"exit\n")
            client.get_transport().sock.shutdown(socket.SHUT_RDWR)
        finally:
            os.kill(serve, signal.SIGCONT)
    client.close()


for router_closes in ((False,) if os.environ.get("ONLY_CLIENT") else (True, False)):
    for number in range(1, count + 1):
        try:
            session(router_closes)
        except Exception as error:
            ending = "router's close" if router_closes else "client's close"
            sys.exit(f"session {number} of {count} ({ending}): {type(error).__name__}: {error}")
