# paramiko_starter.py: a raw SSH shell on the cisco_ios starter, as a hand-written script sees it:
# the prompt, a bare Enter, enable's password, paging with Space and q, paging off, the close.
import os
import sys
import time

import paramiko


def read_until(channel, *endings, timeout=10):
    """Reads until what came ends with one of endings."""
    seen = b""
    deadline = time.monotonic() + timeout
    while not seen.endswith(endings):
        if time.monotonic() > deadline:
            sys.exit(f"waited for {endings!r}, got {seen!r}")
        if channel.recv_ready():
            seen += channel.recv(65536)
        elif channel.closed:
            sys.exit(f"closed while waiting for {endings!r}, got {seen!r}")
        else:
            time.sleep(0.01)
    return seen


def check(condition, what, seen):
    if not condition:
        sys.exit(f"{what}; got {seen!r}")


MORE = b" --More-- "
client = paramiko.SSHClient()
client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
client.connect("127.0.0.1", port=int(os.environ["SSH_PORT"]), username="netops",
               password="whatever", look_for_keys=False, allow_agent=False, timeout=10)
shell = client.invoke_shell()
read_until(shell, b"R1>")
shell.send("\n")
seen = read_until(shell, b"R1>")
check(seen == b"\r\nR1>", "a bare Enter is answered with the prompt", seen)

shell.send("enable\n")
read_until(shell, b"Password: ")
shell.send("any-secret\n")
seen = read_until(shell, b"R1#")
check(b"any-secret" not in seen, "the enable password is not echoed", seen)
# The running config is longer than a page of 24 lines: Space brings the next page, up to
# the prompt.
shell.send("show running-config\n")
answer = read_until(shell, MORE)
check(answer.startswith(b"show running-config\r\nBuilding configuration..."), "the first page",
      answer)
# A page of 24 lines: 23 of the answer and --More-- on the last, after the echoed command.
check(answer.count(b"\r\n") == 24, "23 lines after the echoed command", answer)
while not answer.endswith(b"R1#"):
    check(answer.count(MORE) < 10, "the pages end", answer)
    shell.send(" ")
    answer += read_until(shell, MORE, b"R1#")
check(answer.count(MORE) >= 2, "more than two pages", answer)
check(answer.endswith(b"\r\nend\r\nR1#"), "the whole config, then the prompt", answer)
# q ends a paged answer at once.
shell.send("show running-config\n")
read_until(shell, MORE)
shell.send("q")
seen = read_until(shell, b"R1#")
check(b"\nend\r\n" not in seen, "nothing after q", seen)

shell.send("terminal length 0\n")
read_until(shell, b"R1#")
shell.send("show version\n")
seen = read_until(shell, b"R1#")
check(MORE not in seen and b"Configuration register is 0x0" in seen, "one answer without paging",
      seen)

shell.send("exit\n")
check(shell.recv_exit_status() == 0, "exit status 0 after exit", b"")
client.close()
