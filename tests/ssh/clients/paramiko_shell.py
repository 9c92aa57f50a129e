# paramiko_shell.py: paramiko's invoke_shell with any account: the prompt, a bare Enter, a command, the close.
import os
import sys
import time

import paramiko


def read_until(channel, text, timeout=10):
    seen = b""
    deadline = time.monotonic() + timeout
    while text not in seen:
        if time.monotonic() > deadline:
            sys.exit(f"waited for {text!r}, got {seen!r}")
        if channel.recv_ready():
            seen += channel.recv(65536)
        elif channel.closed:
            sys.exit(f"closed while waiting for {text!r}, got {seen!r}")
        else:
            time.sleep(0.01)
    return seen


client = paramiko.SSHClient()
client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
client.connect("127.0.0.1", port=int(os.environ["SSH_PORT"]), username="anyone",
               password="anything", look_for_keys=False, allow_agent=False, timeout=10)
banner = client.get_transport().remote_version
if not banner.startswith("SSH-2.0-Zentrel_"):
    sys.exit(f"banner {banner!r}")
shell = client.invoke_shell()
read_until(shell, b"Router#")
shell.send("\n")
if read_until(shell, b"Router#") != b"\r\nRouter#":
    sys.exit("a bare Enter is answered with the prompt")
shell.send("show version\n")
answer = read_until(shell, b"Router#")
if not answer.startswith(b"show version\r\nCisco IOS Software") or b"Version 15.2(4)M7" not in answer:
    sys.exit(f"answer {answer!r}")
shell.send("exit\n")
if shell.recv_exit_status() != 0:
    sys.exit("exit status")
client.close()
