# netmiko_starters.py: netmiko drives a starter router as a script would: two show commands,
# an unknown command, an interface description, the save, and the description read back (in
# the whole config and, where the platform has the command, in the interface's section alone).
# Usage: netmiko_starters.py DEVICE_TYPE   (the ports come in SSH_PORT and TELNET_PORT)
# The show commands go in an order drawn afresh each run (ZENTREL_SEED repeats one): a
# command-driven router answers what it is asked, whatever came before.
import os
import random
import re
import sys

from netmiko import ConnectHandler


def save(device):
    device.save_config()


def commit(device):
    device.commit(and_quit=True)


# One row per netmiko device type: what its starter answers and where the change shows.
ROWS = {
    "cisco_ios": dict(
        shows={"show version": "Version 15.9(3)M6",
               "show ip interface brief": "GigabitEthernet0/1"},
        error=("show bogus", "% Invalid input detected at '^' marker."),
        config=["interface GigabitEthernet0/2", "description set by netmiko"],
        save=save, saved="show startup-config",
        config_shows="show running-config", section_shows="show running-config interface GigabitEthernet0/2",
        holds=r"^interface GigabitEthernet0/2\n(?: .*\n)* description set by netmiko$"),
    "cisco_nxos": dict(
        shows={"show version": "NXOS: version 9.3(10)", "show interface brief": "Eth1/3"},
        error=("show bogus", "% Invalid command at '^' marker."),
        config=["interface Ethernet1/3", "description set by netmiko"],
        save=save, saved="show startup-config",
        config_shows="show running-config", section_shows="show running-config interface Ethernet1/3",
        holds=r"^interface Ethernet1/3\n(?: .*\n)* +description set by netmiko$"),
    "arista_eos": dict(
        shows={"show version": "Software image version: 4.28.3M",
               "show ip interface brief": "Management1"},
        error=("show bogus", "% Invalid input"),
        config=["interface Ethernet2", "description set by netmiko"],
        save=save, saved="show startup-config",
        config_shows="show running-config", section_shows="show running-config interfaces Ethernet2",
        holds=r"^interface Ethernet2\n(?: .*\n)* +description set by netmiko$"),
    "juniper_junos": dict(
        shows={"show version": "Junos: 21.4R3.15", "show interfaces terse": "ge-0/0/2"},
        error=("bogus", "unknown command."),
        config=['set interfaces ge-0/0/2 description "set by netmiko"'],
        save=commit, saved=None,
        config_shows="show configuration | display set",
        holds=r'^set interfaces ge-0/0/2 description "set by netmiko"$'),
}
for kind in ("cisco_ios", "arista_eos", "juniper_junos"):
    ROWS[kind + "_telnet"] = ROWS[kind]


kind = sys.argv[1]
row = ROWS[kind]


def check(condition, what, output):
    if not condition:
        sys.exit(f"{kind}: {what}; got {output!r}")


port = os.environ["TELNET_PORT" if kind.endswith("_telnet") else "SSH_PORT"]
device = ConnectHandler(device_type=kind, host="127.0.0.1", port=int(port), username="admin",
                        password="any-password", secret="any-secret", fast_cli=True, timeout=20,
                        global_delay_factor=float(os.environ.get("NETMIKO_DELAY", "0.3")))
device.enable()
prompt = device.find_prompt()
check(prompt.endswith("#") or kind.startswith("juniper"), "privileged prompt", prompt)

seed = int(os.environ.get("ZENTREL_SEED", random.randrange(1 << 30)))
shows = list(row["shows"].items())
random.Random(seed).shuffle(shows)
print(f"{kind}: ZENTREL_SEED={seed}: {', '.join(command for command, _ in shows)}")
for command, expected in shows:
    output = device.send_command(command)
    check(expected in output, f"{command} holds {expected!r}", output)
    check(prompt not in output, f"{command} without the prompt", output)

command, expected = row["error"]
output = device.send_command(command)
check(expected in output, f"{command} is refused in the platform's words", output)

output = device.send_config_set(row["config"], exit_config_mode=not kind.startswith("juniper"))
check(not re.search(r"% |unknown command|syntax error", output), "the change is taken", output)
row["save"](device)

output = device.send_command(row["config_shows"])
check(re.search(row["holds"], output, re.M), "the running configuration holds the change", output)
if "section_shows" in row:
    output = device.send_command(row["section_shows"])
    check(re.search(row["holds"], output, re.M) and output.count("\ninterface ") + output.startswith("interface ") == 1,
          "the interface's section alone holds the change", output)
if row["saved"]:
    output = device.send_command(row["saved"])
    check(re.search(row["holds"], output, re.M), "the saved configuration holds the change", output)
device.disconnect()
