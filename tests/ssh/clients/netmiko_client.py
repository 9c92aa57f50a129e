# netmiko_client.py: netmiko logs in, finds the prompt, runs show version and disconnects.
# Usage: netmiko_client.py cisco_ios|cisco_ios_telnet
import os
import sys

from netmiko import ConnectHandler

kind = sys.argv[1]
port = os.environ["TELNET_PORT" if kind.endswith("_telnet") else "SSH_PORT"]
device = ConnectHandler(device_type=kind, host="127.0.0.1", port=int(port),
                        username="admin", password="secret", timeout=20)
prompt = device.find_prompt()
if prompt != "Router#":
    sys.exit(f"prompt {prompt!r}")
output = device.send_command("show version")
if not output.startswith("Cisco IOS Software") or "Configuration register is 0x2102" not in output:
    sys.exit(f"show version gave {output!r}")
if "Router#" in output:
    sys.exit("the prompt was left in the output")
device.disconnect()
