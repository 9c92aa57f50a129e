#!/usr/bin/python3
"""netmiko_client.py: netmiko's cisco_ios_telnet logs in, reads the version and leaves. Usage: PORT"""
import sys

from netmiko import ConnectHandler

connection = ConnectHandler(device_type="cisco_ios_telnet", host="127.0.0.1", port=int(sys.argv[1]),
                            username="admin", password="secret", fast_cli=False, timeout=20)
prompt = connection.find_prompt()
output = connection.send_command("show version")
connection.disconnect()
if prompt != "Router#" or "IOS Software" not in output:
    sys.exit("unexpected prompt %r or output %r" % (prompt, output))
print(prompt, output.splitlines()[0])
