#!/usr/bin/python3
"""netmiko_client.py: netmiko logs in, sends what it is given, prints the answers, leaves.

Usage: netmiko_client.py PORT DEVICE_TYPE [--enable] [--fast] STEP...

DEVICE_TYPE is a netmiko type (cisco_ios_telnet; cisco_ios over SSH). --enable goes to
privileged mode first (any enable password); --fast takes netmiko's fast_cli with a small
delay factor. A STEP is a command for send_command, or --config LINE: configuration lines
next to each other go in one send_config_set. Prints one JSON object: the prompt netmiko
found, [command, answer] for each command and the output of each configuration set.
"""
import json
import sys

from netmiko import ConnectHandler

port, device_type, *rest = sys.argv[1:]
flags, steps = set(), []
args = iter(rest)
for arg in args:
    if arg in ("--enable", "--fast"):
        flags.add(arg)
    elif arg == "--config":
        line = next(args)
        if steps and isinstance(steps[-1], list):
            steps[-1].append(line)
        else:
            steps.append([line])
    else:
        steps.append(arg)
if not steps:
    sys.exit("netmiko_client.py: nothing to send")
fast = "--fast" in flags
connection = ConnectHandler(device_type=device_type, host="127.0.0.1", port=int(port),
                            username="admin", password="secret", secret="enable-secret",
                            fast_cli=fast, global_delay_factor=0.3 if fast else 1, timeout=20)
if "--enable" in flags:
    connection.enable()
prompt = connection.find_prompt()
answers, configured = [], []
for step in steps:
    if isinstance(step, list):
        configured.append(connection.send_config_set(step))
    else:
        answers.append([step, connection.send_command(step)])
connection.disconnect()
print(json.dumps({"prompt": prompt, "answers": answers, "configured": configured}))
