# ssh_sessions.py: the SSH clients that misbehave or ask for more, against one router on port argv[1].
# A client that says nothing holds no session; three wrong passwords end the
# connection; an exec channel gets the script, a second channel is refused.
import socket
import sys
import time

import paramiko

port = int(sys.argv[1])

silent = socket.create_connection(("127.0.0.1", port))   # never speaks

transport = paramiko.Transport(("127.0.0.1", port))
transport.start_client(timeout=10)
denied = 0
for attempt in range(3):
    try:
        transport.auth_password("admin", "wrong")
    except paramiko.AuthenticationException:
        denied += 1
    except paramiko.SSHException:
        break
time.sleep(0.2)
if denied != 3 or transport.is_active():
    sys.exit(f"denied {denied} times, still connected: {transport.is_active()}")

client = paramiko.SSHClient()
client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
client.connect("127.0.0.1", port=port, username="admin", password="secret",
               look_for_keys=False, allow_agent=False, timeout=10)
first = client.get_transport().open_session()
first.exec_command("show version")
try:
    client.get_transport().open_session(timeout=5)
    sys.exit("a second channel was opened")
except paramiko.ChannelException:
    pass
output = b""
while True:
    chunk = first.recv(65536)
    if not chunk:
        break
    output += chunk
if output != b"R1#Version 15.2\r\nR1#":
    sys.exit(f"exec gave {output!r}")
if first.recv_exit_status() != 0:
    sys.exit("exit status")
client.close()
silent.close()
