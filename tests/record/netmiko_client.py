#!/usr/bin/python3
"""netmiko_client.py: netmiko logs in, reads the version and leaves. Usage: PORT [DEVICE_TYPE]

DEVICE_TYPE is cisco_ios_telnet unless given (cisco_ios: over SSH).
"""
import sys

from netmiko import ConnectHandler

device_type = sys.argv[2] if len(sys.argv) > 2 else "cisco_ios_telnet"
connection = ConnectHandler(device_type=device_type, host="127.0.0.1", port=int(sys.argv[1]),
                            username="admin", password="secret", fast_cli=False, timeout=20)
prompt = connection.find_prompt()
output = connection.send_command("show version")
connection.disconnect()
if prompt != "Router#" or "IOS Software" not in output:
    sys.exit("unexpected prompt %r or output %r" % (prompt, output))
print(prompt, output.splitlines()[0])
